// Whole files read and replaced safely, for the INI layer: a file is read in
// one go up to a size limit, and replaced through a temporary file in the
// same folder that is flushed and then moved over it, so a crash or a full
// disk never leaves half a file. Paths are file-system byte strings.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// How the system's own text files end their lines ("\n", "\r\n" on
// Windows): a file that has no lines yet gets this style.
extern const char* const kSystemLineEnd;

enum class FileRead {
    kRead,        // the file was read (its text may still be empty)
    kMissing,     // no such file
    kTooLarge,    // over the limit: not read
    kUnreadable,  // a folder, a device, no permission: not read
};

// The file a write must replace: a symbolic link's final target (which may
// not exist yet); path itself when it is no link. Empty for a loop of links.
std::string FollowLinks(const std::string& path);

// True when the file exists and must not be replaced: it has the read-only
// attribute (no write permission for its owner), or this process may not
// write it.
bool IsReadOnlyFile(const std::string& path);

// Reads a regular file of at most maxSize bytes whole into *bytes (left
// empty unless kRead).
FileRead ReadWholeFile(const std::string& path, size_t maxSize, std::string* bytes);

// Writes bytes to a temporary file beside path, flushes it and moves it over
// path, keeping the old file's permissions. False, and path untouched, when
// any step fails or the commit hook refuses.
bool ReplaceFileAtomically(const std::string& path, const std::string& bytes);

// Called after the temporary file is written and flushed, before it replaces
// the real one; returning false abandons the write. Lets tests interrupt a
// write at its most delicate moment. nullptr removes the hook.
using FileCommitHook = bool (*)(const char* temporaryPath, const char* finalPath);
void SetFileCommitHook(FileCommitHook hook);

}  // namespace platform
