// INI files with the private-profile semantics the settings and image-set
// files rely on:
// - section and key names compare without regard to case; the first matching
//   key wins when a key stands twice;
// - values are trimmed of surrounding blanks and of one pair of matching
//   quotes, and cut to the caller's buffer;
// - names are looked up without the blanks around them;
// - integers are read from an optional sign and the decimal digits after it
//   (anything else gives 0);
// - a missing file, section or key gives the caller's default;
// - a write creates the file and the section as needed, replaces a key in
//   place, appends a new key at the end of its section and keeps every other
//   line byte for byte, in the file's own line-ending style;
// - CR, LF and CRLF all end a line; a UTF-8 byte-order mark at the start is
//   skipped when reading and kept when writing;
// - every write replaces the file atomically (temporary file in the same
//   folder, flush, rename): a failed write leaves the old file as it was. A
//   symbolic link is followed and its target replaced; a read-only file (no
//   write permission for its owner) is never replaced;
// - a file larger than kMaxIniFileSize is neither read nor rewritten.
// - values are bytes: nothing is converted on reading or writing, and a line
//   nobody set is written back byte for byte. Texts and paths are UTF-8. On
//   Windows a value that is not valid UTF-8 (a path an older version wrote in
//   the ANSI code page) is taken as the ANSI code page where it is used as a
//   path or shown (platform/wide_text_win32.h); it is kept as it is, and a
//   save rewrites it only when the operator changed it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/file_replace.h"

namespace platform {

inline constexpr size_t kMaxIniFileSize = 1024 * 1024;

// How a load went: kRead, kMissing, kTooLarge (over kMaxIniFileSize: not
// read, never rewritten) or kUnreadable (a folder, a device, no permission:
// not read, never rewritten).
using IniLoad = FileRead;

// One INI file read and split once: lookups cost no further reads, and
// changes are written back with one atomic replace.
class IniFile {
public:
    IniLoad Load(const char* file);
    IniLoad status() const { return status_; }

    // The key's cleaned-up value (blanks and one pair of quotes removed, cut
    // at a NUL); false when the section or the key is missing.
    bool Find(std::string_view section, std::string_view key, std::string* value) const;
    // Every key=value of a section, in file order (first of duplicates only).
    std::vector<std::pair<std::string, std::string>> Section(std::string_view section) const;

    // Sets key=value in section (a null value removes the key), in memory.
    void Set(std::string_view section, std::string_view key, const char* value);
    // Writes the text back to the file it was loaded from. False, and the
    // file untouched, when it was too large or unreadable, is read-only, or
    // could not be replaced.
    bool Save() const;

private:
    struct KeyLine {
        size_t begin, end;  // the line's body
        size_t section;     // index into sectionNames_
    };
    struct SectionInfo {
        size_t id;
        size_t insertAt;  // where a new key of the section goes
    };
    void Parse();
    void ReplaceValue(const KeyLine& line, const char* value);
    const KeyLine* FindLine(std::string_view section, std::string_view key) const;

    std::string file_;
    IniLoad status_ = IniLoad::kMissing;
    std::string bytes_;                      // the whole file, byte-order mark included
    std::string eol_ = "\n";                 // style for lines this layer adds
    std::vector<KeyLine> keyLines_;          // in file order
    std::vector<std::string> sectionNames_;  // folded, by id
    std::unordered_map<std::string, SectionInfo> sections_;  // by folded name
    std::unordered_map<std::string, size_t> keys_;  // folded section and key: first key line
};

int IniReadInt(const char* section, const char* key, int defaultValue, const char* file);

// Copies the value (or the default) into out, at most size - 1 characters and
// a terminating NUL; returns the number of characters copied.
uint32_t IniReadString(const char* section, const char* key, const char* defaultValue, char* out,
                       uint32_t size, const char* file);

// Writes key=value in section; a null value removes the key. Returns false
// when the file could not be replaced (the old file is then untouched).
bool IniWriteString(const char* section, const char* key, const char* value, const char* file);

// Every key=value of a section, in file order (first of duplicates only),
// values cleaned up as for a single lookup.
std::vector<std::pair<std::string, std::string>> IniReadSection(const char* section,
                                                                const char* file);

}  // namespace platform
