// Whole files read and replaced on Windows. rename() does not replace an
// existing file here; MoveFileEx does, and with write-through it returns
// only once the move is on disk. Another program (an editor, a virus
// scanner) may hold the file for a moment: the move is retried briefly.
#include <windows.h>

#include <atomic>
#include <iterator>
#include <string>

#include "platform/file_replace.h"
#include "platform/trace.h"
#include "platform/wide_path_win32.h"

namespace platform {

const char* const kSystemLineEnd = "\r\n";

namespace {

std::atomic<FileCommitHook> g_commitHook{nullptr};
std::atomic<unsigned> g_temporaryCount{0};

// How long a replace waits for another program to let go of the file.
constexpr int kMoveAttempts = 20;
constexpr DWORD kMoveRetryMs = 50;

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos) return ".";
    if (slash == 0) return path.substr(0, 1);
    return path.substr(0, slash);
}

bool WriteAll(HANDLE file, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const size_t left = bytes.size() - done;
        const DWORD ask = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
        DWORD written = 0;
        if (!::WriteFile(file, bytes.data() + done, ask, &written, nullptr) || written == 0) {
            return false;
        }
        done += written;
    }
    return true;
}

// Errors that mean someone else holds the file right now.
bool IsHeld(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
           error == ERROR_LOCK_VIOLATION;
}

bool MoveOver(const std::string& from, const std::string& to) {
    for (int attempt = 1;; ++attempt) {
        if (::MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return true;
        }
        const DWORD error = ::GetLastError();
        if (!IsHeld(error) || attempt >= kMoveAttempts) {
            TRACE("write %s: cannot replace it (error %lu)\n", to.c_str(), error);
            return false;
        }
        ::Sleep(kMoveRetryMs);
    }
}

}  // namespace

std::string FollowLinks(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(WidePath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        return path;
    }
    HANDLE file = ::CreateFileW(WidePath(path).c_str(), 0,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return path;  // a dangling link: written as itself
    wchar_t target[MAX_PATH * 4] = {};
    const DWORD room = static_cast<DWORD>(std::size(target) - 1);
    const DWORD n = ::GetFinalPathNameByHandleW(file, target, room, VOLUME_NAME_DOS);
    ::CloseHandle(file);
    if (n == 0 || n >= room) return path;
    std::string final = TextFromWide(std::wstring_view(target, n));
    if (final.rfind("\\\\?\\UNC\\", 0) == 0) return "\\\\" + final.substr(8);
    if (final.rfind("\\\\?\\", 0) == 0) return final.substr(4);
    return final;
}

bool IsReadOnlyFile(const std::string& file) {
    const std::string& path = file;
    const DWORD attributes = ::GetFileAttributesW(WidePath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) return true;
    HANDLE handle = ::CreateFileW(WidePath(path).c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        ::CloseHandle(handle);
        return false;
    }
    return ::GetLastError() == ERROR_ACCESS_DENIED;
}

FileRead ReadWholeFile(const std::string& path, size_t maxSize, std::string* bytes) {
    bytes->clear();
    HANDLE file = ::CreateFileW(WidePath(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? FileRead::kMissing
                   : FileRead::kUnreadable;
    }
    FileRead result = FileRead::kRead;
    BY_HANDLE_FILE_INFORMATION info{};
    LARGE_INTEGER size{};
    if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !::GetFileSizeEx(file, &size)) {
        result = FileRead::kUnreadable;
    } else if (static_cast<uint64_t>(size.QuadPart) > maxSize) {
        result = FileRead::kTooLarge;
    }
    char chunk[8192];
    while (result == FileRead::kRead) {
        DWORD got = 0;
        if (!::ReadFile(file, chunk, sizeof chunk, &got, nullptr)) result = FileRead::kUnreadable;
        if (result != FileRead::kRead || got == 0) break;
        bytes->append(chunk, got);
        if (bytes->size() > maxSize) result = FileRead::kTooLarge;  // it grew
    }
    ::CloseHandle(file);
    if (result != FileRead::kRead) bytes->clear();
    return result;
}

bool ReplaceFileAtomically(const std::string& path, const std::string& bytes) {
    // A short name of its own, so that a long file name still leaves room.
    const std::string temporary = FolderOf(path) + "\\.kelvane-ini." +
                                  std::to_string(::GetCurrentProcessId()) + "." +
                                  std::to_string(g_temporaryCount.fetch_add(1)) + ".tmp";
    HANDLE file = ::CreateFileW(WidePath(temporary).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        TRACE("write %s: cannot create a temporary file (error %lu)\n", path.c_str(),
              ::GetLastError());
        return false;
    }
    bool ok = WriteAll(file, bytes) && ::FlushFileBuffers(file);
    ok = ::CloseHandle(file) && ok;
    // The old file's hidden and system marks stay with the new one.
    const DWORD old = ::GetFileAttributesW(WidePath(path).c_str());
    if (ok && old != INVALID_FILE_ATTRIBUTES) {
        const DWORD keep = old & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
        if (keep != 0) ::SetFileAttributesW(WidePath(temporary).c_str(), keep);
    }
    FileCommitHook hook = g_commitHook.load();
    if (ok && hook != nullptr) ok = hook(temporary.c_str(), path.c_str());
    if (ok) ok = MoveOver(temporary, path);
    if (!ok) {
        ::SetFileAttributesW(WidePath(temporary).c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(WidePath(temporary).c_str());
    }
    return ok;
}

void SetFileCommitHook(FileCommitHook hook) {
    g_commitHook.store(hook);
}

}  // namespace platform
