// Reading and writing keys of section "VARKO", shared by the settings file
// and the image-set file. Each file is read once per load and written with
// one atomic replace per save.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "platform/ini.h"

namespace config {

inline constexpr const char* kSection = "VARKO";
inline constexpr size_t kValueBufferSize = 1024;
// Longest path a path field holds (the fields are 261 bytes with the NUL).
inline constexpr size_t kMaxPathLength = 260;

// True when path names an existing entry that is not a folder.
bool FileFound(const char* path);

// Something reading found unusable: the file, and a line naming the file and
// the key ("CODEADDRESS in /st/a.vrk is longer than 31 characters: not used").
struct ReadProblem {
    std::string file;
    std::string text;
};
using ReadProblems = std::vector<ReadProblem>;

// One settings or image-set file, read when constructed. A file too large or
// unreadable reads as missing (every key its default) and is noted.
class ProfileReader {
public:
    // problems may be null.
    ProfileReader(const char* file, ReadProblems* problems);

    // The key's integer: an optional '-' and leading decimal digits
    // (saturated to the int range); defaultValue when the key is missing or
    // its value does not start with a number.
    int Int(const char* key, int defaultValue) const;

    // The key's text in a field of size bytes (NUL included); empty when
    // missing. A longer value is refused, never cut into another value: the
    // field is left empty, the key is noted, and the result is false.
    bool Text(const char* key, char* out, size_t size);
    template <size_t N>
    bool Text(const char* key, char (&out)[N]) {
        return Text(key, out, N);
    }

private:
    void Note(const std::string& problem);

    platform::IniFile ini_;
    std::string file_;
    ReadProblems* problems_;
};

// Collects keys in the order asked and writes them all with Save. Texts are
// taken from fixed buffers and never read past them.
class ProfileWriter {
public:
    using Entries = std::vector<std::pair<std::string, std::string>>;

    explicit ProfileWriter(const char* file) : file_(file != nullptr ? file : "") {}
    void Int(const char* key, int value);
    void Text(const char* key, const char* value, size_t bufferSize);
    template <size_t N>
    void Text(const char* key, const char (&value)[N]) {
        Text(key, value, N);
    }
    // Every key and its value as it will be written, in order.
    const Entries& entries() const { return entries_; }
    // One atomic replace of the file; false (the file as it was) when it
    // could not be read, is read-only or could not be replaced.
    bool Save() const;

private:
    std::string file_;
    Entries entries_;
};

}  // namespace config
