#include "engine/image.h"

#include <cstdio>
#include <cstring>

#include "engine/session.h"
#include "link/commands.h"
#include "link/notify.h"
#include "link/packet.h"
#include "link/serial.h"
#include "platform/files.h"
#include "platform/notify.h"
#include "platform/tick.h"

const char g_imageNames[13][32] = {"Pbl",    "QcSblHD",    "MIB1",    "MIB2",  "QcSbl",
                                   "OemSbl", "BootLoader", "UsbBoot", "Modem", "Rsrc1",
                                   "Rsrc2",  "FileSys",    "ETC"};

ImageTrailer g_imageTrailer;

namespace {

uint8_t g_blockBuffer[kChannelCount][BLOCK_SIZE];

// Payload size: the file size, less the trailer when the file ends in one.
// Reads into its own buffer: the shared trailer belongs to the window thread.
bool PayloadSize(FILE* file, uint32_t* size, uint32_t* fileSize) {
    if (std::fseek(file, 0, SEEK_END) != 0) return false;
    long total = std::ftell(file);
    if (total < 0 || static_cast<unsigned long>(total) > 0xFFFFFFFFul) return false;
    *fileSize = static_cast<uint32_t>(total);
    *size = *fileSize;
    if (total >= kTrailerSize && std::fseek(file, total - kTrailerSize, SEEK_SET) == 0) {
        uint8_t probe[4];
        if (std::fread(probe, 1, 4, file) == 4) {
            uint32_t magic =
                probe[0] | probe[1] << 8 | probe[2] << 16 | static_cast<uint32_t>(probe[3]) << 24;
            if (magic == kTrailerMagic) *size -= kTrailerSize;
        }
    }
    return std::fseek(file, 0, SEEK_SET) == 0;
}

enum class BlockLoop { kDone, kFailed, kReadFailed };

// The end of the file was reached: done only when the file was read to the
// size it had at the start (a file that shrank meanwhile was not sent whole;
// one that grew is caught when it gives more than that size).
// Read errors are caught before this.
BlockLoop FileEnd(const ImageEntry& e, uint32_t fileSize) {
    return e.bytesSent >= fileSize ? BlockLoop::kDone : BlockLoop::kReadFailed;
}

// Writes every block of the file.
BlockLoop WriteBlocks(int channel, ImageEntry& e, FILE* file, uint32_t fileSize,
                      uint32_t blockSize) {
    uint8_t* block = g_blockBuffer[channel];
    uint32_t address = e.address;
    if (channelActive[channel].load() == 0) return BlockLoop::kFailed;
    for (int i = 0;; ++i) {
        size_t n = std::fread(block, 1, blockSize, file);
        if (n < blockSize && std::ferror(file) != 0) return BlockLoop::kReadFailed;
        if (n == 0) return FileEnd(e, fileSize);
        // A file that grew since its size was taken: what lies past that
        // size was never erased and must not be written.
        if (n > fileSize - e.bytesSent) return BlockLoop::kReadFailed;
        if (n < blockSize) std::memset(block + n, 0xFF, blockSize - n);
        FLASH_DOWNLOADER_Resend(channel);
        FLASH_DOWNLOADER_WriteBlock(channel, address, static_cast<int>(blockSize), block);
        e.bytesSent += static_cast<uint32_t>(n);
        if (i % 16 == 0) VARKO_SendMessage(NOTIFY_PROGRESS, &e);
        SERIAL_PORT_DoReading(channel);
        if (FN[channel].sendFailed != 0 || FN[channel].errorCount > 0) return BlockLoop::kFailed;
        address += kBlockStride;
        if (n < blockSize) return FileEnd(e, fileSize);
        if (channelActive[channel].load() == 0) return BlockLoop::kFailed;
    }
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

int VARKO_DownloadImage(int channel, int slot) {
    ImageEntry& e = g_imageTable[channel][slot];
    const uint32_t blockSize = VARKO_BlockSize(e.kind);
    e.channel = channel;
    const uint32_t start = platform::GetTickCount();
    FILE* file = platform::OpenRegularFile(e.path);
    uint32_t fileSize = 0;
    if (file == nullptr || !PayloadSize(file, &e.size, &fileSize)) {
        if (file != nullptr) std::fclose(file);
        VARKO_SendChannelText(channel, "ERR: No File");
        return 0;
    }
    // Checked when the image was chosen; a file that grew past the end of
    // the flash space since then changed under the download.
    const uint64_t rangeEnd = VARKO_ImageRangeEnd(e.kind, e.address, e.size, fileSize);
    if (rangeEnd > kFlashSpaceEnd || rangeEnd - e.address >= kFlashSpaceEnd) {
        std::fclose(file);
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
        std::fclose(file);
        return 0;
    }
    const BlockLoop loop = WriteBlocks(channel, e, file, fileSize, blockSize);
    bool ok = loop == BlockLoop::kDone;
    // The loop does not wait for the last replies: every packet must be
    // answered (and any resend asked for sent) before the image counts.
    if (ok) {
        ok = FLASH_DOWNLOADER_Drain(channel, VARKO_FinalDrainPolls(g_dwBaudRate[channel])) == 1 &&
             FN[channel].sendFailed == 0 && FN[channel].errorCount == 0;
    }
    std::fclose(file);
    const uint32_t end = platform::GetTickCount();
    VARKO_SendMessage(NOTIFY_PROGRESS, &e);
    if (ok) {
        VARKO_SendChannelText(channel, "CH%d %s %1.1fKB OK! [%3.1f sec]", channel,
                              g_imageNames[slot], e.size * 0.001, (end - start) * 0.001);
        return 1;
    }
    if (loop == BlockLoop::kReadFailed) {
        VARKO_SendChannelText(channel, "CH%d ERR: File Read", channel);
        return 0;
    }
    VARKO_SendChannelText(channel, "CH%d ERR: [%d,%d]", channel, FN[channel].sendFailed,
                          FN[channel].errorCount);
    return 0;
}
