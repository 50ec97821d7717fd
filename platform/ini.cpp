#include "platform/ini.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/file_replace.h"
#include "platform/trace.h"

namespace platform {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsLineEnd(char c) {
    return c == '\r' || c == '\n';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// Names compare without regard to (ASCII) case: they are stored folded.
std::string Folded(std::string_view name) {
    std::string out(name);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

std::string KeyOf(const std::string& foldedSection, std::string_view key) {
    return std::to_string(foldedSection.size()) + ":" + foldedSection + Folded(key);
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

std::string CleanValue(std::string_view v) {
    if (v.size() > 1 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        v = v.substr(1, v.size() - 2);
    }
    return std::string(v.substr(0, v.find('\0')));  // a NUL inside the value ends it
}

// Past the line end (CR, LF or CRLF) that starts at pos.
size_t PastLineEnd(const std::string& bytes, size_t pos) {
    if (pos >= bytes.size()) return pos;
    if (bytes[pos] == '\r' && pos + 1 < bytes.size() && bytes[pos + 1] == '\n') return pos + 2;
    return pos + 1;
}

size_t TextStart(const std::string& bytes) {
    return std::string_view(bytes).starts_with(kByteOrderMark) ? kByteOrderMark.size() : 0;
}

// The body of the file's last line, and whether it has a line end.
std::string_view LastLine(const std::string& bytes, bool* ended) {
    const size_t start = TextStart(bytes);
    size_t end = bytes.size();
    *ended = end > start && IsLineEnd(bytes[end - 1]);
    if (*ended) end -= end - 1 > start && bytes[end - 2] == '\r' && bytes[end - 1] == '\n' ? 2 : 1;
    size_t begin = end;
    while (begin > start && !IsLineEnd(bytes[begin - 1]))
        --begin;
    return std::string_view(bytes).substr(begin, end - begin);
}

// One line of a value: a line break in a value would start a new line.
std::string OneLine(const char* value) {
    std::string v(value);
    size_t cut = v.find_first_of("\r\n");
    if (cut != std::string::npos) v.resize(cut);
    return v;
}

}  // namespace

IniLoad IniFile::Load(const char* file) {
    file_ = file != nullptr ? file : "";
    bytes_.clear();
    status_ = file_.empty() ? IniLoad::kMissing
                            : static_cast<IniLoad>(ReadWholeFile(file_, kMaxIniFileSize, &bytes_));
    Parse();
    return status_;
}

void IniFile::Parse() {
    keyLines_.clear();
    sectionNames_.clear();
    sections_.clear();
    keys_.clear();
    eol_ = kSystemLineEnd;
    bool styleSeen = false;
    size_t section = std::string::npos;
    SectionInfo* firstBlock = nullptr;  // the section being read, if its first block
    const std::string_view text(bytes_);
    size_t pos = TextStart(bytes_);
    while (pos < bytes_.size()) {
        size_t bodyEnd = text.find_first_of("\r\n", pos);
        if (bodyEnd == std::string_view::npos) bodyEnd = bytes_.size();
        const size_t end = PastLineEnd(bytes_, bodyEnd);
        if (!styleSeen && end > bodyEnd) {
            eol_.assign(bytes_, bodyEnd, end - bodyEnd);
            styleSeen = true;
        }
        const std::string_view body = text.substr(pos, bodyEnd - pos);
        std::string_view name, key, value;
        if (SectionName(body, &name)) {
            std::string folded = Folded(name);
            auto [it, added] =
                sections_.try_emplace(folded, SectionInfo{sectionNames_.size(), end});
            if (added) sectionNames_.push_back(std::move(folded));
            section = it->second.id;
            firstBlock = added ? &it->second : nullptr;
        } else if (section != std::string::npos) {
            if (KeyValue(body, &key, &value)) {
                keys_.try_emplace(KeyOf(sectionNames_[section], key), keyLines_.size());
                keyLines_.push_back(KeyLine{pos, bodyEnd, section});
            }
            if (firstBlock != nullptr && !Trim(body).empty()) firstBlock->insertAt = end;
        }
        pos = end;
    }
}

// Names are looked up without the blanks around them, as Windows does.
const IniFile::KeyLine* IniFile::FindLine(std::string_view section, std::string_view key) const {
    auto it = keys_.find(KeyOf(Folded(Trim(section)), Trim(key)));
    return it == keys_.end() ? nullptr : &keyLines_[it->second];
}

bool IniFile::Find(std::string_view section, std::string_view key, std::string* value) const {
    const KeyLine* line = FindLine(section, key);
    if (line == nullptr) return false;
    std::string_view k, v;
    KeyValue(std::string_view(bytes_).substr(line->begin, line->end - line->begin), &k, &v);
    *value = CleanValue(v);
    return true;
}

std::vector<std::pair<std::string, std::string>> IniFile::Section(std::string_view section) const {
    std::vector<std::pair<std::string, std::string>> entries;
    auto it = sections_.find(Folded(section));
    if (it == sections_.end()) return entries;
    std::unordered_set<std::string> seen;
    for (const KeyLine& line : keyLines_) {
        if (line.section != it->second.id) continue;
        std::string_view k, v;
        KeyValue(std::string_view(bytes_).substr(line.begin, line.end - line.begin), &k, &v);
        if (seen.insert(Folded(k)).second) entries.emplace_back(std::string(k), CleanValue(v));
    }
    return entries;
}

// The line keeps its key and stays one key line, so the text need not be
// split again: what follows it only moves.
void IniFile::ReplaceValue(const KeyLine& line, const char* value) {
    std::string_view original, old;
    KeyValue(std::string_view(bytes_).substr(line.begin, line.end - line.begin), &original, &old);
    const std::string body = std::string(original) + "=" + OneLine(value);
    const size_t begin = line.begin;
    const size_t oldEnd = line.end;
    bytes_.replace(begin, oldEnd - begin, body);
    const size_t newEnd = begin + body.size();
    for (KeyLine& k : keyLines_) {
        if (k.begin == begin) {
            k.end = newEnd;
        } else if (k.begin > begin) {  // a later line: at or past oldEnd
            k.begin = k.begin - oldEnd + newEnd;
            k.end = k.end - oldEnd + newEnd;
        }
    }
    for (auto& [name, info] : sections_) {
        if (info.insertAt >= oldEnd) info.insertAt = info.insertAt - oldEnd + newEnd;
    }
}

void IniFile::Set(std::string_view section, std::string_view key, const char* value) {
    const KeyLine* line = FindLine(section, key);
    if (line != nullptr && value != nullptr) {
        ReplaceValue(*line, value);
        return;
    }
    if (line != nullptr) {
        bytes_.erase(line->begin, PastLineEnd(bytes_, line->end) - line->begin);
        Parse();
        return;
    }
    if (value == nullptr) return;
    bool ended = false;
    const bool lastLineBlank = Trim(LastLine(bytes_, &ended)).empty();
    const bool hasText = bytes_.size() > TextStart(bytes_);
    const std::string entry = std::string(key) + "=" + OneLine(value) + eol_;
    auto it = sections_.find(Folded(section));
    if (it != sections_.end()) {
        const size_t at = it->second.insertAt;
        bytes_.insert(at, (at == bytes_.size() && hasText && !ended ? eol_ : "") + entry);
    } else {
        if (hasText && !ended) bytes_ += eol_;
        if (!lastLineBlank) bytes_ += eol_;
        bytes_ += "[" + std::string(section) + "]" + eol_ + entry;
    }
    Parse();
}

bool IniFile::Save() const {
    if (status_ == IniLoad::kTooLarge || status_ == IniLoad::kUnreadable) {
        TRACE("INI write %s: the file was not read, so it is not replaced\n", file_.c_str());
        return false;
    }
    const std::string target = FollowLinks(file_);
    if (target.empty() || IsReadOnlyFile(target)) {
        TRACE("INI write %s: read-only or a loop of links; not replaced\n", file_.c_str());
        return false;
    }
    return ReplaceFileAtomically(target, bytes_);
}

std::vector<std::pair<std::string, std::string>> IniReadSection(const char* section,
                                                                const char* file) {
    if (section == nullptr || file == nullptr) return {};
    IniFile ini;
    ini.Load(file);
    return ini.Section(section);
}

int IniReadInt(const char* section, const char* key, int defaultValue, const char* file) {
    std::string value;
    IniFile ini;
    if (section == nullptr || key == nullptr || file == nullptr) return defaultValue;
    ini.Load(file);
    if (!ini.Find(section, key, &value) || value.empty()) return defaultValue;
    // A leading sign counts, as Windows reads it; the digits after it end at
    // the first other character.
    const bool negative = value[0] == '-';
    const size_t first = value[0] == '-' || value[0] == '+' ? 1 : 0;
    long long n = 0;
    for (size_t i = first; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
        n = n * 10 + (value[i] - '0');
        if (n > INT_MAX) return negative ? INT_MIN : INT_MAX;
    }
    return static_cast<int>(negative ? -n : n);
}

uint32_t IniReadString(const char* section, const char* key, const char* defaultValue, char* out,
                       uint32_t size, const char* file) {
    if (out == nullptr || size == 0) return 0;
    std::string value;
    IniFile ini;
    const bool found = section != nullptr && key != nullptr && file != nullptr &&
                       ini.Load(file) == IniLoad::kRead && ini.Find(section, key, &value);
    if (!found) value = defaultValue != nullptr ? defaultValue : "";
    size_t n = std::strlen(value.c_str());
    if (n > size - 1) n = size - 1;
    std::memcpy(out, value.data(), n);
    out[n] = '\0';
    return static_cast<uint32_t>(n);
}

bool IniWriteString(const char* section, const char* key, const char* value, const char* file) {
    if (section == nullptr || key == nullptr || file == nullptr || file[0] == '\0') return false;
    IniFile ini;
    const IniLoad status = ini.Load(file);
    if (status == IniLoad::kTooLarge || status == IniLoad::kUnreadable) {
        TRACE("INI write %s: the file cannot be read, so it is not replaced\n", file);
        return false;
    }
    std::string old;
    if (value == nullptr && !ini.Find(section, key, &old)) return true;
    ini.Set(section, key, value);
    return ini.Save();
}

}  // namespace platform
