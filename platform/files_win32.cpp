// Files on Windows. Only files on disk count as regular: a device name (NUL,
// COM1) or a pipe never does, and opening one never waits.
#include <windows.h>
// The C runtime's descriptors, for a FILE* on a Windows handle.
#include <fcntl.h>
#include <io.h>

#include <vector>

#include "platform/files.h"
#include "platform/path.h"
#include "platform/wide_path_win32.h"

namespace platform {
namespace {

// Opens a regular file for reading (others may read and write it too);
// INVALID_HANDLE_VALUE for anything else.
HANDLE OpenRegular(const char* path) {
    if (path == nullptr) return INVALID_HANDLE_VALUE;
    HANDLE file =
        ::CreateFileW(WidePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return file;
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        ::CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

}  // namespace

FileKind KindOfFile(const char* path, uint64_t* size) {
    if (path == nullptr) return FileKind::kMissing;
    // Opened for no access at all: that works for folders and devices too
    // (a device name such as NUL has no attributes to ask for).
    HANDLE file = ::CreateFileW(WidePath(path).c_str(), 0,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
                       error == ERROR_INVALID_NAME
                   ? FileKind::kMissing
                   : FileKind::kOther;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool regular = ::GetFileType(file) == FILE_TYPE_DISK &&
                         ::GetFileInformationByHandle(file, &info) &&
                         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    ::CloseHandle(file);
    if (!regular) return FileKind::kOther;
    if (size != nullptr) {
        *size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    }
    return FileKind::kRegular;
}

FILE* OpenRegularFile(const char* path) {
    HANDLE file = OpenRegular(path);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(file);
        return nullptr;
    }
    FILE* stream = ::_fdopen(fd, "rb");
    if (stream == nullptr) ::_close(fd);  // closes the handle too
    return stream;
}

bool PathExists(const std::string& path) {
    return KindOfFile(path.c_str(), nullptr) != FileKind::kMissing;
}

bool IsFolder(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(WidePath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool RegularFileVersion(const std::string& path, FileVersion* version) {
    HANDLE file = OpenRegular(path.c_str());
    if (file == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    FILE_BASIC_INFO times{};
    const bool ok = ::GetFileInformationByHandle(file, &info) &&
                    ::GetFileInformationByHandleEx(file, FileBasicInfo, &times, sizeof times);
    ::CloseHandle(file);
    if (!ok) return false;
    // File times count 100 ns steps; the file index is the file's identity.
    version->identity = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    version->size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    version->writtenNs = times.LastWriteTime.QuadPart * 100;
    version->changedNs = times.ChangeTime.QuadPart * 100;
    return true;
}

// A folder counts as readable, as on POSIX; a file must open for reading.
bool IsReadable(const std::string& path) {
    if (IsFolder(path)) return true;
    HANDLE file = ::CreateFileW(WidePath(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(file);
    return true;
}

bool IsReadableFile(const std::string& path) {
    HANDLE file = OpenRegular(path.c_str());
    if (file == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(file);
    return true;
}

bool ReadFileInBlocks(const std::string& path, size_t blockSize,
                      const std::function<void(const uint8_t*, size_t)>& take) {
    HANDLE file = OpenRegular(path.c_str());
    if (file == INVALID_HANDLE_VALUE) return false;
    std::vector<uint8_t> block(blockSize > 0 ? blockSize : 1);
    const DWORD ask = block.size() > 0x40000000u ? 0x40000000u : static_cast<DWORD>(block.size());
    bool ok = true;
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file, block.data(), ask, &got, nullptr)) {
            ok = false;
            break;
        }
        if (got == 0) break;
        take(block.data(), got);
    }
    ::CloseHandle(file);
    return ok;
}

std::filesystem::path FileSystemPath(const std::string& path) {
    return std::filesystem::path(WidePath(path));
}

std::string PathText(const std::filesystem::path& path) {
    return TextFromWide(path.native());
}

}  // namespace platform
