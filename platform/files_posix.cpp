#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/files.h"
#include "platform/path.h"

namespace platform {

namespace {

bool IsRegular(int fd) {
    struct stat info {};
    return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

// Opens a regular file for reading; -1 for anything else. O_NONBLOCK keeps
// the open of a FIFO from waiting for a writer; the check on the open
// descriptor rules out a swap after a stat.
int OpenRegular(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return -1;
    if (!IsRegular(fd)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

FileKind KindOfFile(const char* path, uint64_t* size) {
    struct stat info {};
    if (path == nullptr || ::stat(path, &info) != 0) return FileKind::kMissing;
    if (!S_ISREG(info.st_mode)) return FileKind::kOther;
    if (size != nullptr) *size = static_cast<uint64_t>(info.st_size);
    return FileKind::kRegular;
}

FILE* OpenRegularFile(const char* path) {
    const int fd = OpenRegular(path);
    if (fd < 0) return nullptr;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    FILE* file = ::fdopen(fd, "rb");
    if (file == nullptr) ::close(fd);
    return file;
}

bool PathExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

bool IsFolder(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool RegularFileVersion(const std::string& path, FileVersion* version) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    version->identity = static_cast<uint64_t>(info.st_ino);
    version->size = static_cast<uint64_t>(info.st_size);
    version->writtenNs = info.st_mtim.tv_sec * 1000000000LL + info.st_mtim.tv_nsec;
    version->changedNs = info.st_ctim.tv_sec * 1000000000LL + info.st_ctim.tv_nsec;
    return true;
}

bool IsReadable(const std::string& path) {
    return ::access(path.c_str(), R_OK) == 0;
}

bool IsReadableFile(const std::string& path) {
    const int fd = OpenRegular(path);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

bool ReadFileInBlocks(const std::string& path, size_t blockSize,
                      const std::function<void(const uint8_t*, size_t)>& take) {
    const int fd = OpenRegular(path);
    if (fd < 0) return false;
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    std::vector<uint8_t> block(blockSize);
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(fd, block.data(), block.size());
        if (n == 0) break;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ok = false;
            break;
        }
        take(block.data(), static_cast<size_t>(n));
    }
    ::close(fd);
    return ok;
}

std::filesystem::path FileSystemPath(const std::string& path) {
    return std::filesystem::path(path);
}

std::string PathText(const std::filesystem::path& path) {
    return path.native();
}

}  // namespace platform
