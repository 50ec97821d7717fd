#include "platform/ini.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/trace.h"

namespace platform {
namespace {

std::atomic<IniCommitHook> g_commitHook{nullptr};

struct Line {
    std::string body;  // the line without its ending
    std::string eol;   // "\n", "\r\n" or "" for a last line without one
};

struct IniText {
    std::vector<Line> lines;
    std::string eol = "\n";  // style for lines this layer adds
};

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// Reads the whole file; false when it is missing or cannot be read in full.
// *missing tells the two apart: a write may create a missing file, never
// replace one it could not read.
bool ReadWholeFile(const char* file, std::string* out, bool* missing = nullptr) {
    FILE* f = std::fopen(file, "rb");
    if (missing != nullptr) *missing = f == nullptr && errno == ENOENT;
    if (f == nullptr) return false;
    char chunk[8192];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        out->append(chunk, n);
    const bool ok = std::ferror(f) == 0;
    std::fclose(f);
    return ok;
}

IniText Split(const std::string& bytes) {
    IniText text;
    bool styleSeen = false;
    size_t pos = 0;
    while (pos < bytes.size()) {
        size_t nl = bytes.find('\n', pos);
        Line line;
        if (nl == std::string::npos) {
            line.body = bytes.substr(pos);
            pos = bytes.size();
        } else {
            line.body = bytes.substr(pos, nl - pos);
            line.eol = "\n";
            if (!line.body.empty() && line.body.back() == '\r') {
                line.body.pop_back();
                line.eol = "\r\n";
            }
            pos = nl + 1;
            if (!styleSeen) text.eol = line.eol;
            styleSeen = true;
        }
        text.lines.push_back(std::move(line));
    }
    return text;
}

// A section header gives its name; anything else gives false.
bool SectionName(std::string_view body, std::string_view* name) {
    std::string_view t = Trim(body);
    if (t.empty() || t.front() != '[') return false;
    t.remove_prefix(1);
    size_t close = t.find(']');
    if (close != std::string_view::npos) t = t.substr(0, close);
    *name = Trim(t);
    return true;
}

// A key line gives its key and value; comments and lines without '=' do not.
bool KeyValue(std::string_view body, std::string_view* key, std::string_view* value) {
    std::string_view t = Trim(body);
    if (t.empty() || t.front() == ';') return false;
    size_t eq = t.find('=');
    if (eq == std::string_view::npos) return false;
    *key = Trim(t.substr(0, eq));
    *value = Trim(t.substr(eq + 1));
    return true;
}

// Index of the first line holding key in a section of that name, or -1.
long FindKey(const IniText& text, std::string_view section, std::string_view key) {
    bool inSection = false;
    for (size_t i = 0; i < text.lines.size(); ++i) {
        std::string_view name, k, v;
        if (SectionName(text.lines[i].body, &name)) {
            inSection = SameName(name, section);
        } else if (inSection && KeyValue(text.lines[i].body, &k, &v) && SameName(k, key)) {
            return static_cast<long>(i);
        }
    }
    return -1;
}

long FindSection(const IniText& text, std::string_view section) {
    for (size_t i = 0; i < text.lines.size(); ++i) {
        std::string_view name;
        if (SectionName(text.lines[i].body, &name) && SameName(name, section)) {
            return static_cast<long>(i);
        }
    }
    return -1;
}

// Where a new key of the section starting at header goes: after its last
// non-blank line, before the next section.
size_t InsertionPoint(const IniText& text, size_t header) {
    size_t last = header;
    for (size_t i = header + 1; i < text.lines.size(); ++i) {
        std::string_view name;
        if (SectionName(text.lines[i].body, &name)) break;
        if (!Trim(text.lines[i].body).empty()) last = i;
    }
    return last + 1;
}

void InsertLine(IniText* text, size_t at, std::string body) {
    if (at > 0 && text->lines[at - 1].eol.empty()) text->lines[at - 1].eol = text->eol;
    text->lines.insert(text->lines.begin() + static_cast<long>(at),
                       Line{std::move(body), text->eol});
}

std::string_view Unquoted(std::string_view v) {
    if (v.size() > 1 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        v = v.substr(1, v.size() - 2);
    }
    return v;
}

bool Lookup(const char* section, const char* key, const char* file, std::string* value) {
    std::string bytes;
    if (section == nullptr || key == nullptr || file == nullptr) return false;
    if (!ReadWholeFile(file, &bytes)) return false;
    IniText text = Split(bytes);
    long at = FindKey(text, section, key);
    if (at < 0) return false;
    std::string_view k, v;
    KeyValue(text.lines[static_cast<size_t>(at)].body, &k, &v);
    value->assign(Unquoted(v));
    return true;
}

std::string Join(const IniText& text) {
    std::string out;
    for (const Line& line : text.lines) {
        out += line.body;
        out += line.eol;
    }
    return out;
}

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

// Replaces file with bytes through a temporary file in the same folder.
bool ReplaceFile(const std::string& file, const std::string& bytes) {
    // A short name of its own, so that a long file name still leaves room.
    std::string temporary = FolderOf(file) + "/.kelvane-ini.XXXXXX";
    std::vector<char> pattern(temporary.begin(), temporary.end());
    pattern.push_back('\0');
    int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        TRACE("INI write %s: cannot create a temporary file (errno %d)\n", file.c_str(), errno);
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
    IniCommitHook hook = g_commitHook.load();
    if (ok && hook != nullptr) ok = hook(pattern.data(), file.c_str());
    if (ok) ok = ::rename(pattern.data(), file.c_str()) == 0;
    if (!ok) {
        TRACE("INI write %s failed (errno %d); the old file is kept\n", file.c_str(), errno);
        ::unlink(pattern.data());
    }
    return ok;
}

// One line of a value: a line break in a value would start a new line.
std::string OneLine(const char* value) {
    std::string v(value);
    size_t cut = v.find_first_of("\r\n");
    if (cut != std::string::npos) v.resize(cut);
    return v;
}

}  // namespace

void SetIniCommitHook(IniCommitHook hook) {
    g_commitHook.store(hook);
}

std::vector<std::pair<std::string, std::string>> GetPrivateProfileSection(const char* section,
                                                                          const char* file) {
    std::vector<std::pair<std::string, std::string>> entries;
    std::string bytes;
    if (section == nullptr || file == nullptr || !ReadWholeFile(file, &bytes)) return entries;
    IniText text = Split(bytes);
    bool inSection = false;
    for (const Line& line : text.lines) {
        std::string_view name, k, v;
        if (SectionName(line.body, &name)) {
            inSection = SameName(name, section);
            continue;
        }
        if (!inSection || !KeyValue(line.body, &k, &v)) continue;
        bool seen = false;
        for (const auto& e : entries)
            seen = seen || SameName(e.first, k);
        if (!seen) entries.emplace_back(std::string(k), std::string(Unquoted(v)));
    }
    return entries;
}

int GetPrivateProfileInt(const char* section, const char* key, int defaultValue, const char* file) {
    std::string value;
    if (!Lookup(section, key, file, &value) || value.empty()) return defaultValue;
    long long n = 0;
    for (char c : value) {
        if (c < '0' || c > '9') break;
        n = n * 10 + (c - '0');
        if (n > INT_MAX) return INT_MAX;
    }
    return static_cast<int>(n);
}

uint32_t GetPrivateProfileString(const char* section, const char* key, const char* defaultValue,
                                 char* out, uint32_t size, const char* file) {
    if (out == nullptr || size == 0) return 0;
    std::string value;
    if (!Lookup(section, key, file, &value)) value = defaultValue != nullptr ? defaultValue : "";
    size_t n = std::strlen(value.c_str());  // a NUL inside the value ends it
    if (n > size - 1) n = size - 1;
    std::memcpy(out, value.data(), n);
    out[n] = '\0';
    return static_cast<uint32_t>(n);
}

bool WritePrivateProfileString(const char* section, const char* key, const char* value,
                               const char* file) {
    if (section == nullptr || key == nullptr || file == nullptr || file[0] == '\0') return false;
    std::string bytes;
    bool missing = false;
    if (!ReadWholeFile(file, &bytes, &missing) && !missing) {
        TRACE("INI write %s: the file cannot be read, so it is not replaced\n", file);
        return false;
    }
    IniText text = Split(bytes);
    long at = FindKey(text, section, key);
    if (value == nullptr) {
        if (at < 0) return true;
        text.lines.erase(text.lines.begin() + at);
        return ReplaceFile(file, Join(text));
    }
    if (at >= 0) {
        Line& line = text.lines[static_cast<size_t>(at)];
        std::string_view original, old;
        KeyValue(line.body, &original, &old);
        line.body = std::string(original) + "=" + OneLine(value);
        return ReplaceFile(file, Join(text));
    }
    std::string entry = std::string(key) + "=" + OneLine(value);
    long header = FindSection(text, section);
    if (header >= 0) {
        InsertLine(&text, InsertionPoint(text, static_cast<size_t>(header)), entry);
    } else {
        if (!text.lines.empty() && !Trim(text.lines.back().body).empty()) {
            InsertLine(&text, text.lines.size(), "");
        }
        InsertLine(&text, text.lines.size(), "[" + std::string(section) + "]");
        InsertLine(&text, text.lines.size(), entry);
    }
    return ReplaceFile(file, Join(text));
}

}  // namespace platform
