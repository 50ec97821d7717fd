// Image files as the engine reads them: only regular files count, and
// looking at one never blocks (a FIFO or a device named as an image would
// hold its reader forever).
#pragma once

#include <cstdint>
#include <cstdio>

namespace platform {

enum class FileKind { kMissing, kRegular, kOther };

// What path names; *size gets a regular file's size.
FileKind KindOfFile(const char* path, uint64_t* size);

// Opens a regular file for binary reading without blocking on anything
// else; null when path is missing, unreadable or no regular file.
FILE* OpenRegularFile(const char* path);

}  // namespace platform
