// INI files with the private-profile semantics the settings and image-set
// files rely on:
// - section and key names compare without regard to case; the first matching
//   key wins when a key stands twice;
// - values are trimmed of surrounding blanks and of one pair of matching
//   quotes, and cut to the caller's buffer;
// - integers are read from leading decimal digits (anything else gives 0);
// - a missing file, section or key gives the caller's default;
// - a write creates the file and the section as needed, replaces a key in
//   place, appends a new key at the end of its section and keeps every other
//   line byte for byte, in the file's own line-ending style (LF or CRLF);
// - every write replaces the file atomically (temporary file in the same
//   folder, flush, rename): a failed write leaves the old file as it was.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace platform {

int GetPrivateProfileInt(const char* section, const char* key, int defaultValue, const char* file);

// Copies the value (or the default) into out, at most size - 1 characters and
// a terminating NUL; returns the number of characters copied.
uint32_t GetPrivateProfileString(const char* section, const char* key, const char* defaultValue,
                                 char* out, uint32_t size, const char* file);

// Writes key=value in section; a null value removes the key. Returns false
// when the file could not be replaced (the old file is then untouched).
bool WritePrivateProfileString(const char* section, const char* key, const char* value,
                               const char* file);

// Every key=value of a section, in file order (first of duplicates only),
// values cleaned up as for a single lookup.
std::vector<std::pair<std::string, std::string>> GetPrivateProfileSection(const char* section,
                                                                          const char* file);

// Called after the temporary file is written and flushed, before it replaces
// the real one; returning false abandons the write. Lets tests interrupt a
// write at its most delicate moment. nullptr removes the hook.
using IniCommitHook = bool (*)(const char* temporaryPath, const char* finalPath);
void SetIniCommitHook(IniCommitHook hook);

}  // namespace platform
