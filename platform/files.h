// Files as the core needs them: whether something is there, whether it is a
// file that can be read, and a file opened or read in blocks. Only regular
// files count as images, and looking at a path never blocks (a FIFO or a
// device named as an image would hold its reader forever). Paths are
// file-system byte strings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace platform {

enum class FileKind { kMissing, kRegular, kOther };

// What path names; *size gets a regular file's size.
FileKind KindOfFile(const char* path, uint64_t* size);

// Opens a regular file for binary reading without blocking on anything
// else; null when path is missing, unreadable or no regular file.
FILE* OpenRegularFile(const char* path);

// True when a file or folder is found at path.
bool PathExists(const std::string& path);

// True when path names a folder.
bool IsFolder(const std::string& path);

// What tells one content of a regular file from another without reading it:
// the file's identity (a replaced file is a new one), its size and the times
// of its last write and last change.
struct FileVersion {
    uint64_t identity = 0;
    uint64_t size = 0;
    int64_t writtenNs = 0;
    int64_t changedNs = 0;
    bool operator==(const FileVersion&) const = default;
};
// False when path names no regular file.
bool RegularFileVersion(const std::string& path, FileVersion* version);

// True when path names a regular file (not a folder, device or pipe) that
// this process can open for reading.
bool IsReadableFile(const std::string& path);

// Reads the regular file at path to its end in blocks of blockSize bytes,
// handing each to take; false when it cannot be opened or a read fails.
bool ReadFileInBlocks(const std::string& path, size_t blockSize,
                      const std::function<void(const uint8_t*, size_t)>& take);

}  // namespace platform
