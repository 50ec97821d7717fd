#include "engine/image.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/crc32.h"
#include "engine/session.h"
#include "link/commands.h"
#include "link/notify.h"
#include "link/packet.h"
#include "link/serial.h"
#include "platform/file_replace.h"
#include "platform/files.h"
#include "platform/notify.h"
#include "platform/tick.h"

const char g_imageNames[13][32] = {"Pbl",    "QcSblHD",    "MIB1",    "MIB2",  "QcSbl",
                                   "OemSbl", "BootLoader", "UsbBoot", "Modem", "Rsrc1",
                                   "Rsrc2",  "FileSys",    "ETC"};

ImageTrailer g_imageTrailer;

namespace {

uint8_t g_blockBuffer[kChannelCount][BLOCK_SIZE];

// An image file as the session read it at its start; every channel sends
// from this one copy. Written only while no worker runs.
struct LoadedImage {
    std::string path;
    std::string bytes;  // the whole file, trailer included
    uint32_t payloadSize = 0;
    uint32_t crc32 = 0;
};
std::vector<LoadedImage> g_loaded[kImageSlotCount];

// Payload size: the file size, less the trailer when the file ends in one.
uint32_t PayloadSize(const std::string& bytes) {
    const auto size = static_cast<uint32_t>(bytes.size());
    if (size < kTrailerSize) return size;
    uint32_t magic = 0;
    std::memcpy(&magic, bytes.data() + size - kTrailerSize, sizeof magic);
    return magic == kTrailerMagic ? size - kTrailerSize : size;
}

const LoadedImage* FindLoaded(int slot, const char* path) {
    for (const LoadedImage& image : g_loaded[slot]) {
        if (image.path == path) return &image;
    }
    return nullptr;
}

void LoadImage(int slot, const char* path) {
    if (FindLoaded(slot, path) != nullptr) return;  // the same file on another channel
    LoadedImage image;
    image.path = path;
    // Empty, too large or unreadable: left out, its channels say "ERR: No File".
    if (platform::ReadWholeFile(path, kMaxImageBytes, &image.bytes) != platform::FileRead::kRead ||
        image.bytes.empty()) {
        return;
    }
    image.payloadSize = PayloadSize(image.bytes);
    image.crc32 =
        VARKO_Crc32(0, reinterpret_cast<const uint8_t*>(image.bytes.data()), image.bytes.size());
    g_loaded[slot].push_back(std::move(image));
}

// Writes every block of the image; false when the channel was stopped or a
// packet failed.
bool WriteBlocks(int channel, ImageEntry& e, const std::string& bytes, uint32_t blockSize) {
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    const auto fileSize = static_cast<uint32_t>(bytes.size());
    uint32_t address = e.address;
    for (int i = 0; e.bytesSent < fileSize; ++i) {
        if (channelActive[channel].load() == 0) return false;
        const uint32_t n = std::min(blockSize, fileSize - e.bytesSent);
        const uint8_t* block = data + e.bytesSent;
        if (n < blockSize) {  // the last block, padded with 0xFF
            std::memcpy(g_blockBuffer[channel], block, n);
            std::memset(g_blockBuffer[channel] + n, 0xFF, blockSize - n);
            block = g_blockBuffer[channel];
        }
        FLASH_DOWNLOADER_Resend(channel);
        FLASH_DOWNLOADER_WriteBlock(channel, address, static_cast<int>(blockSize), block);
        e.bytesSent += n;
        if (i % 16 == 0) VARKO_SendMessage(NOTIFY_PROGRESS, &e);
        SERIAL_PORT_DoReading(channel);
        if (FN[channel].sendFailed != 0 || FN[channel].errorCount > 0) return false;
        address += kBlockStride;
    }
    return true;
}

}  // namespace

uint32_t VARKO_BlockSize(int slot) {
    return (slot == 4 || slot == 5) ? BLOCK_SIZE_SBL : BLOCK_SIZE;
}

int VARKO_FinalDrainPolls(uint32_t baudRate) {
    if (baudRate == 0) return kDrainPolls;
    // Up to three largest packets (every byte stuffed) and a full output queue.
    const uint64_t bytes = 3ull * (2 * kMaxWriteLength + 24) + kSerialQueueSize;
    return kDrainPolls + static_cast<int>((bytes * 10 * 1000 + baudRate - 1) / baudRate);
}

uint64_t VARKO_ImageRangeEnd(int slot, uint32_t address, uint64_t payloadSize, uint64_t fileSize) {
    const uint64_t block = VARKO_BlockSize(slot);
    const uint64_t erased = (payloadSize + block - 1) / block * block;
    const uint64_t blocks = (fileSize + block - 1) / block;
    const uint64_t written = blocks == 0 ? 0 : (blocks - 1) * kBlockStride + block;
    return address + (erased > written ? erased : written);
}

ImageCheck VARKO_CheckImage(int slot, const char* path, uint32_t address) {
    uint64_t fileSize = 0;
    switch (platform::KindOfFile(path, &fileSize)) {
        case platform::FileKind::kMissing:
            return ImageCheck::kOk;
        case platform::FileKind::kOther:
            return ImageCheck::kNotAFile;
        case platform::FileKind::kRegular:
            break;
    }
    if (fileSize == 0) return ImageCheck::kEmpty;
    ImageTrailer trailer;
    const bool trailed = VARKO_ProbeTrailer(path, &trailer);
    const uint64_t payload = trailed ? fileSize - kTrailerSize : fileSize;
    const uint64_t end = VARKO_ImageRangeEnd(slot, address, payload, fileSize);
    if (end > kFlashSpaceEnd || end - address >= kFlashSpaceEnd) return ImageCheck::kBeyond4GiB;
    return fileSize > kMaxImageBytes ? ImageCheck::kTooLarge : ImageCheck::kOk;
}

bool VARKO_ProbeTrailer(const char* path, ImageTrailer* out) {
    std::memset(out, 0, sizeof *out);
    FILE* file = platform::OpenRegularFile(path);
    if (file == nullptr) return false;
    if (std::fseek(file, 0, SEEK_END) == 0) {
        long total = std::ftell(file);
        if (total >= kTrailerSize && std::fseek(file, total - kTrailerSize, SEEK_SET) == 0) {
            if (std::fread(out, 1, kTrailerSize, file) != kTrailerSize)
                std::memset(out, 0, sizeof *out);
        }
    }
    std::fclose(file);
    // The texts are NUL-terminated in a good trailer; never trust that.
    out->kind[sizeof out->kind - 1] = '\0';
    out->type[sizeof out->type - 1] = '\0';
    return out->magic == kTrailerMagic;
}

int VARKO_ReadTrailer(const char* path, uint32_t* address) {
    if (path == nullptr || path[0] == '\0') return 0;
    const platform::FileKind kind = platform::KindOfFile(path, nullptr);
    if (kind == platform::FileKind::kMissing) {
        std::printf("file is not exist!!\n");
        return 0;
    }
    if (kind != platform::FileKind::kRegular) return 0;  // a folder or a device is no image
    // A file that cannot be opened leaves no trailer behind either.
    std::memset(&g_imageTrailer, 0, sizeof g_imageTrailer);
    FILE* probe = platform::OpenRegularFile(path);
    if (probe == nullptr) return 0;
    std::fclose(probe);
    if (VARKO_ProbeTrailer(path, &g_imageTrailer)) {
        *address = g_imageTrailer.address;
        return 1;
    }
    g_imageTrailer.address = 0;
    g_imageTrailer.kind[0] = '\0';
    *address = 0;
    platform::ShowMessage("Error!!\nNot contained MagicCode or Binary_Kind\n");
    return 0;
}

void VARKO_LoadImages() {
    VARKO_ReleaseImages();
    for (int ch = 0; ch < kChannelCount; ++ch) {
        if (g_nComPort[ch].load() == 0) continue;
        for (int slot = 0; slot < kImageSlotCount; ++slot) {
            const ImageEntry& e = g_imageTable[ch][slot];
            if (e.path[0] != '\0') LoadImage(slot, e.path);
        }
    }
}

void VARKO_ReleaseImages() {
    for (auto& slot : g_loaded)
        slot.clear();
}

bool VARKO_LoadedImage(int slot, const char* path, uint32_t* fileSize, uint32_t* crc32) {
    const LoadedImage* image = FindLoaded(slot, path);
    if (image == nullptr) return false;
    *fileSize = static_cast<uint32_t>(image->bytes.size());
    *crc32 = image->crc32;
    return true;
}

int VARKO_DownloadImage(int channel, int slot) {
    ImageEntry& e = g_imageTable[channel][slot];
    const uint32_t blockSize = VARKO_BlockSize(e.kind);
    e.channel = channel;
    const uint32_t start = platform::GetTickCount();
    const LoadedImage* image = FindLoaded(slot, e.path);
    if (image == nullptr) {
        VARKO_SendChannelText(channel, "ERR: No File");
        return 0;
    }
    e.size = image->payloadSize;
    const auto fileSize = static_cast<uint32_t>(image->bytes.size());
    // Checked when the image was chosen; a file that grew past the end of
    // the flash space since then changed before the session.
    const uint64_t rangeEnd = VARKO_ImageRangeEnd(e.kind, e.address, e.size, fileSize);
    if (rangeEnd > kFlashSpaceEnd || rangeEnd - e.address >= kFlashSpaceEnd) {
        VARKO_SendChannelText(channel, "CH%d ERR: File Read", channel);
        return 0;
    }
    e.bytesSent = 0;
    VARKO_SendChannelText(channel, "Erase Flash");
    // Every block written is erased first, the trailer's and the last of a
    // slot whose blocks lie 0x4000 apart included: flash cells cannot be
    // written unless erased.
    const auto eraseLength = static_cast<uint32_t>(rangeEnd - e.address);
    if (!FLASH_DOWNLOADER_Erase(channel, e.address, eraseLength)) {
        VARKO_SendChannelText(channel, "ERR: Erase Flash");
        return 0;
    }
    // The loop does not wait for the last replies: every packet must be
    // answered (and any resend asked for sent) before the image counts.
    const bool ok =
        WriteBlocks(channel, e, image->bytes, blockSize) &&
        FLASH_DOWNLOADER_Drain(channel, VARKO_FinalDrainPolls(g_dwBaudRate[channel])) == 1 &&
        FN[channel].sendFailed == 0 && FN[channel].errorCount == 0;
    const uint32_t end = platform::GetTickCount();
    VARKO_SendMessage(NOTIFY_PROGRESS, &e);
    if (ok) {
        VARKO_SendChannelText(channel, "CH%d %s %1.1fKB OK! [%3.1f sec]", channel,
                              g_imageNames[slot], e.size * 0.001, (end - start) * 0.001);
        return 1;
    }
    VARKO_SendChannelText(channel, "CH%d ERR: [%d,%d]", channel, FN[channel].sendFailed,
                          FN[channel].errorCount);
    return 0;
}
