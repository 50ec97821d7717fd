#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <vector>

#include "platform/file_replace.h"
#include "platform/trace.h"

namespace platform {

const char* const kSystemLineEnd = "\n";

namespace {

std::atomic<FileCommitHook> g_commitHook{nullptr};

constexpr int kMaxLinkHops = 40;

std::string FolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool WriteAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

std::string FollowLinks(const std::string& file) {
    std::string path = file;
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
        std::vector<char> target(PATH_MAX + 1);
        const ssize_t n = ::readlink(path.c_str(), target.data(), PATH_MAX);
        if (n <= 0) return path;
        const std::string next(target.data(), static_cast<size_t>(n));
        path = next.front() == '/' ? next : FolderOf(path) + "/" + next;
    }
    return "";
}

bool IsReadOnlyFile(const std::string& file) {
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) return false;
    return (info.st_mode & S_IWUSR) == 0 || ::access(file.c_str(), W_OK) != 0;
}

bool ReplaceFileAtomically(const std::string& file, const std::string& bytes) {
    // A short name of its own, so that a long file name still leaves room.
    std::string temporary = FolderOf(file) + "/.kelvane-ini.XXXXXX";
    std::vector<char> pattern(temporary.begin(), temporary.end());
    pattern.push_back('\0');
    int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        TRACE("write %s: cannot create a temporary file (errno %d)\n", file.c_str(), errno);
        return false;
    }
    struct stat old {};
    mode_t mode = 0644;
    if (::stat(file.c_str(), &old) == 0) {
        mode = old.st_mode & 07777;
    } else {
        mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    bool ok = WriteAll(fd, bytes) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    FileCommitHook hook = g_commitHook.load();
    if (ok && hook != nullptr) ok = hook(pattern.data(), file.c_str());
    if (ok) ok = ::rename(pattern.data(), file.c_str()) == 0;
    if (!ok) {
        TRACE("write %s failed (errno %d); the old file is kept\n", file.c_str(), errno);
        ::unlink(pattern.data());
    }
    return ok;
}

FileRead ReadWholeFile(const std::string& file, size_t maxSize, std::string* out) {
    out->clear();
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno == ENOENT ? FileRead::kMissing : FileRead::kUnreadable;
    struct stat info {};
    FileRead result = FileRead::kRead;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) result = FileRead::kUnreadable;
    if (result == FileRead::kRead && static_cast<uint64_t>(info.st_size) > maxSize) {
        result = FileRead::kTooLarge;
    }
    char chunk[8192];
    while (result == FileRead::kRead) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) result = FileRead::kUnreadable;
        if (n <= 0) break;
        out->append(chunk, static_cast<size_t>(n));
        if (out->size() > maxSize) result = FileRead::kTooLarge;  // it grew
    }
    ::close(fd);
    if (result != FileRead::kRead) out->clear();
    return result;
}

void SetFileCommitHook(FileCommitHook hook) {
    g_commitHook.store(hook);
}

}  // namespace platform
