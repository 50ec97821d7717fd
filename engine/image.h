// One image on one channel: its trailer, the erase of its flash range and
// the block-by-block write, with progress and one result line.
#pragma once

#include <cstdint>

#include "link/channel.h"

inline constexpr int kImageSlotCount = 12;
inline constexpr uint32_t BLOCK_SIZE = 0x4000;
inline constexpr uint32_t BLOCK_SIZE_SBL = 0x3E00;  // slots 4 and 5
inline constexpr uint32_t kBlockStride = 0x4000;    // blocks lie this far apart in flash
inline constexpr uint32_t kTrailerMagic = 0xABCDABCD;
inline constexpr int kTrailerSize = 1024;
inline constexpr uint64_t kFlashSpaceEnd = 1ull << 32;  // flash addresses are 32 bits
// A session holds each image in memory while its channels send it: no image
// is larger (at 1382400 Bd one this size takes over an hour per handset).
inline constexpr uint64_t kMaxImageBytes = 512ull << 20;

// Display names of the image slots; entry 12 belongs to no slot.
extern const char g_imageNames[13][32];

// The last 1024 bytes of an image file, when they begin with the magic.
struct ImageTrailer {
    uint32_t magic;
    uint32_t address;  // flash address of the image
    uint32_t unused;
    char kind[32];   // image kind text
    char type[980];  // image type text: "mbn", "usb", "bin", "rc1", "rc2", "ffs", "fota"
};
static_assert(sizeof(ImageTrailer) == kTrailerSize, "the trailer is 1024 bytes");

// Holds the trailer of the last file VARKO_ReadTrailer read (window thread only).
extern ImageTrailer g_imageTrailer;

// Block size of a slot: 0x3E00 for slots 4 and 5, else 0x4000.
uint32_t VARKO_BlockSize(int slot);

// Why an image cannot go to a handset, found before anything is sent.
enum class ImageCheck {
    kOk,          // a regular file whose range fits (or a missing file: its download says so)
    kNotAFile,    // a folder, FIFO, device...: only regular files are images
    kBeyond4GiB,  // address plus the block-rounded size passes the end of the 32-bit flash
                  // space, or the range is 4 GiB long (no 32-bit erase length holds it)
    kEmpty,       // a file of 0 bytes: nothing to flash
    kTooLarge,    // larger than kMaxImageBytes
};

// The end (exclusive) of the flash range an image takes: the erase of its
// payload and the blocks of the whole file, trailer included. The download
// erases all of it.
uint64_t VARKO_ImageRangeEnd(int slot, uint32_t address, uint64_t payloadSize, uint64_t fileSize);

// Checks the file at path as the image of slot at address.
ImageCheck VARKO_CheckImage(int slot, const char* path, uint32_t address);

// Reads the trailer of a file without telling anyone: true when the file
// ends in one (copied into out, which is cleared first in every case).
bool VARKO_ProbeTrailer(const char* path, ImageTrailer* out);

// 1 and the trailer's address when the file ends in a trailer; 0 otherwise
// (0 stored when the file was read but has none, after a message box).
int VARKO_ReadTrailer(const char* path, uint32_t* address);

// Reads every image of the channels with a port once, at the start of a
// session (before any worker runs): all channels send from these copies, so
// each handset gets, and each record names, the bytes the files held then,
// whatever happens to the files during the flash. A file that is missing,
// no regular file, empty or larger than kMaxImageBytes is left out.
void VARKO_LoadImages();
// Frees the copies once every worker has ended.
void VARKO_ReleaseImages();
// The size and CRC-32 of the copy of path in slot; false when none was read.
bool VARKO_LoadedImage(int slot, const char* path, uint32_t* fileSize, uint32_t* crc32);

// Erases and writes g_imageTable[channel][slot] from the session's copy of
// its file ("ERR: No File" when there is none); 1 only when the whole file
// was sent and every packet acknowledged without error.
int VARKO_DownloadImage(int channel, int slot);

// Polls allowed for the last replies of an image at a baud rate: the usual
// drain plus the time what can still be on its way takes on the line.
int VARKO_FinalDrainPolls(uint32_t baudRate);
