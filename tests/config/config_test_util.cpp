#include "tests/config/config_test_util.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "config/settings.h"
#include "platform/ini.h"

namespace config_test {

namespace {

void PutLe32(std::string* bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        (*bytes)[at + i] = static_cast<char>(value >> (8 * i));
}

std::string Data(size_t size) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i)
        data[i] = static_cast<char>((i * 7 + 3) & 0xFF);
    return data;
}

std::string Trimmed(const std::string& s) {
    size_t first = s.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    size_t last = s.find_last_not_of(" \t");
    return s.substr(first, last - first + 1);
}

}  // namespace

void MakeImage(const std::string& path, uint32_t address, size_t dataSize) {
    std::string trailer(1024, '\0');
    PutLe32(&trailer, 0, 0xABCDABCD);
    PutLe32(&trailer, 4, address);
    std::memcpy(&trailer[12], "MODEM", 5);
    std::memcpy(&trailer[44], "bin", 3);
    WriteFile(path, Data(dataSize) + trailer);
}

void MakeImageWithoutTrailer(const std::string& path, size_t dataSize) {
    WriteFile(path, Data(dataSize));
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    ASSERT_TRUE(out.good()) << path;
}

std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::pair<std::string, std::string>> SectionKeys(const std::string& text,
                                                             const std::string& section) {
    std::vector<std::pair<std::string, std::string>> keys;
    std::istringstream in(text);
    std::string line;
    bool inside = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::string t = Trimmed(line);
        if (!t.empty() && t.front() == '[') {
            inside = t == "[" + section + "]";
        } else if (inside && !t.empty() && t.front() != ';' && t.find('=') != std::string::npos) {
            size_t eq = t.find('=');
            keys.emplace_back(Trimmed(t.substr(0, eq)), Trimmed(t.substr(eq + 1)));
        }
    }
    return keys;
}

std::string StoredValue(const std::string& file, const std::string& key) {
    for (const auto& [k, v] : SectionKeys(ReadFile(file), "VARKO")) {
        if (k == key) return v;
    }
    return "<missing>";
}

void ConfigTest::SetUp() {
    platform::SetOperatorPrompt(&prompt_);
    g_imageSet = ImageSet{};
    g_settings = Settings{};
    ASSERT_TRUE(SetStartDirectory(dir_.path().c_str()));
}

void ConfigTest::TearDown() {
    platform::SetOperatorPrompt(nullptr);
    platform::SetFileCommitHook(nullptr);
}

ImageSet FilledImageSet(int modemType, const std::string& folder) {
    ImageSet set{};
    set.MTY = modemType;
    set.BOOTCHECK = 1;
    Set(set.BOOTKIND, "BOOT-" + std::to_string(modemType));
    Set(set.BOOTFILE, folder + "/boot");
    Set(set.BOOTLOADERFILE, folder + "/boot/BOOT_LOADER.mbn");
    Set(set.BOOTADDRESS, "1F00000");
    const char* chain[kBootChainCount] = {"0", "10a000", "20B000", "30c000", "40d000", "50e000"};
    for (int i = 0; i < kBootChainCount; ++i)
        Set(set.bootChain[i].address, chain[i]);
    set.USBCHECK = 1;
    Set(set.USBKIND, "USB");
    Set(set.USBFILE, folder + "/usb.bin");
    Set(set.USBADDRESS, "8000");
    Set(set.BINARYFULLPATH, folder + "/full");
    for (int row = 0; row < kImageSetRowCount; ++row) {
        ImageSetSlot& slot = set.rows[row];
        slot.check = row % 2;
        Set(slot.kind, std::string("KIND") + ImageSetRowPrefix(row));
        Set(slot.file, folder + "/" + ImageSetRowPrefix(row) + ".img");
        Set(slot.address, std::to_string(0x100000 * (row + 1)));
    }
    return set;
}

}  // namespace config_test
