#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/image_file.h"

namespace platform {

FileKind KindOfFile(const char* path, uint64_t* size) {
    struct stat info {};
    if (path == nullptr || ::stat(path, &info) != 0) return FileKind::kMissing;
    if (!S_ISREG(info.st_mode)) return FileKind::kOther;
    if (size != nullptr) *size = static_cast<uint64_t>(info.st_size);
    return FileKind::kRegular;
}

FILE* OpenRegularFile(const char* path) {
    // Non-blocking, so a FIFO without a writer does not hold the open; the
    // check on the open descriptor rules out a swap after a stat.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return nullptr;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    FILE* file = ::fdopen(fd, "rb");
    if (file == nullptr) ::close(fd);
    return file;
}

}  // namespace platform
