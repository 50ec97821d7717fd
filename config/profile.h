// Reading and writing keys of section "VARKO", shared by the settings file
// and the image-set file. Every value goes through a 1024-byte buffer.
#pragma once

#include <cstddef>

namespace config {

inline constexpr const char* kSection = "VARKO";
inline constexpr size_t kValueBufferSize = 1024;
// Longest path a path field holds (the fields are 261 bytes with the NUL).
inline constexpr size_t kMaxPathLength = 260;

// True when path names an existing entry that is not a folder.
bool FileFound(const char* path);

// The key's integer: an optional '-' and leading decimal digits (saturated
// to the int range); defaultValue when the key is missing or its value does
// not start with a number.
int ReadInt(const char* key, int defaultValue, const char* file);

// The key's text cut to size - 1 characters; empty when missing.
void ReadText(const char* key, char* out, size_t size, const char* file);

// Writes keys in the order asked and remembers whether every write worked.
// Texts are taken from fixed buffers and never read past them.
class ProfileWriter {
public:
    explicit ProfileWriter(const char* file) : file_(file) {}
    void Int(const char* key, int value);
    void Text(const char* key, const char* value, size_t bufferSize);
    template <size_t N>
    void Text(const char* key, const char (&value)[N]) {
        Text(key, value, N);
    }
    bool ok() const { return ok_; }

private:
    void Put(const char* key, const char* value);

    const char* file_;
    bool ok_ = true;
};

}  // namespace config
