// Helpers for the settings and image-set tests: image files with and without
// a trailer, a recording operator prompt, raw file access and a reader that
// lists the keys of one section exactly as they stand in the file.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "config/image_set.h"
#include "platform/notify.h"
#include "tests/support/pty_peer.h"

namespace config_test {

inline constexpr const char* kNoTrailerMessage =
    "Error!!\nNot contained MagicCode or Binary_Kind\n";

// A few KiB of data followed by a 1024-byte trailer naming address.
void MakeImage(const std::string& path, uint32_t address, size_t dataSize = 4096);
// Data only: no trailer.
void MakeImageWithoutTrailer(const std::string& path, size_t dataSize = 3000);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
// The names of the entries in folder, sorted.
std::vector<std::string> FolderEntries(const std::string& folder);

// key=value pairs of section, in file order, keys as spelled, values trimmed.
std::vector<std::pair<std::string, std::string>> SectionKeys(const std::string& text,
                                                             const std::string& section);
// The value of key in section "VARKO", or "<missing>".
std::string StoredValue(const std::string& file, const std::string& key);

class RecordingPrompt : public platform::OperatorPrompt {
public:
    void ShowText(const char* text) override { texts.emplace_back(text); }
    bool AskYesNo(const char* text) override {
        texts.emplace_back(text);
        return false;
    }
    std::vector<std::string> texts;
};

// Copies text into a fixed field.
template <size_t N>
void Set(char (&field)[N], const std::string& text) {
    ASSERT_LT(text.size(), N);
    text.copy(field, text.size());
    field[text.size()] = '\0';
}

// A temporary folder, a recording prompt, and no hook or stale record left
// behind for the next test.
class ConfigTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    testing_support::TempDir dir_;
    RecordingPrompt prompt_;
};

// An image set with every field filled with distinct values; the files named
// do not exist, so no trailer is consulted when it is read back.
ImageSet FilledImageSet(int modemType, const std::string& folder);

}  // namespace config_test
