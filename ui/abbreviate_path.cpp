// The display form of a path: the root, an ellipsis, the last folder and the
// name, so that a long path fits its edit.
#include "platform/files.h"
#include "platform/path.h"
#include "ui/downloader_core.h"

namespace ui {

namespace {

constexpr size_t kLongName = 40;  // a name (or last folder and name) this long...
constexpr size_t kLongTail = 46;  // ...shows as the last this many characters
constexpr const char* kEllipsis = "...";

// Where the shown tail begins: the separator before the last folder, or the
// last 46 bytes (from a whole UTF-8 letter) when the name or the last folder
// with it is long.
size_t TailStart(const std::string& path, size_t first) {
    const size_t last = path.size() - 1;
    const size_t s1 = path.find_last_of(platform::kPathSeparators);
    const size_t s2 =
        s1 > 0 ? path.find_last_of(platform::kPathSeparators, s1 - 1) : std::string::npos;
    const size_t before = s2 == std::string::npos ? 0 : s2;
    if (last - s1 >= kLongName || last - before >= kLongName) {
        size_t start = path.size() > kLongTail ? path.size() - kLongTail : 0;
        // Never inside a UTF-8 letter: from the next whole one.
        while (start < last && (static_cast<unsigned char>(path[start]) & 0xC0) == 0x80)
            ++start;
        return start;
    }
    return s2 == std::string::npos ? first : std::max(s2, first);
}

}  // namespace

std::string DownloaderCore::AbbreviatePath(const std::string& path) {
    if (path.empty() || !platform::PathExists(path)) return {};
    const size_t first = path.find_first_of(platform::kPathSeparators);
    if (first == std::string::npos) return path;
    const size_t tail = TailStart(path, first);
    // Nothing would hide behind the ellipsis: the path is shown whole.
    if (tail <= first + 1) return path;
    return path.substr(0, first + 1) + kEllipsis + path.substr(tail);
}

}  // namespace ui
