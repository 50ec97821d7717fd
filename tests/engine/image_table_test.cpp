// The image table, address texts and the trailer reader.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/crc32.h"
#include "engine/image.h"
#include "engine/session.h"
#include "platform/notify.h"
#include "tests/support/pty_peer.h"

namespace {

using testing_support::TempDir;

class RecordingPrompt : public platform::OperatorPrompt {
public:
    void ShowText(const char* text) override { texts.emplace_back(text); }
    bool AskYesNo(const char*) override { return false; }
    std::vector<std::string> texts;
};

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

std::vector<uint8_t> WithTrailer(size_t payload, uint32_t address, const char* kind,
                                 const char* type) {
    std::vector<uint8_t> bytes(payload, 0x5A);
    ImageTrailer trailer{};
    trailer.magic = kTrailerMagic;
    trailer.address = address;
    std::strncpy(trailer.kind, kind, sizeof trailer.kind - 1);
    std::strncpy(trailer.type, type, sizeof trailer.type - 1);
    bytes.resize(payload + sizeof trailer);  // then filled: g++ 12 warns on a growing insert
    std::memcpy(bytes.data() + payload, &trailer, sizeof trailer);
    return bytes;
}

TEST(ImageTableTest, AddressTextsAreHexadecimalOrRefused) {
    uint32_t a = 0;
    EXPECT_TRUE(VARKO_ParseAddress("1A0000", &a));
    EXPECT_EQ(a, 0x1A0000u);
    EXPECT_TRUE(VARKO_ParseAddress("0xffffffff", &a));
    EXPECT_EQ(a, 0xFFFFFFFFu);
    EXPECT_TRUE(VARKO_ParseAddress(" 0 ", &a));
    EXPECT_EQ(a, 0u);
    for (const char* bad : {"", "  ", "zz", "12g4", "0x", "100000000", "-5", "1 2"}) {
        EXPECT_FALSE(VARKO_ParseAddress(bad, &a)) << bad;
    }
    EXPECT_FALSE(VARKO_ParseAddress(nullptr, &a));
}

TEST(ImageTableTest, SetImageFillsEveryChannelOrChangesNothing) {
    VARKO_ClearImages();
    for (const auto& row : g_imageTable) {
        for (const ImageEntry& e : row) {
            EXPECT_EQ(e.kind, -1);
            EXPECT_EQ(e.path[0], '\0');
            EXPECT_EQ(e.address, 0xFFFFFFFFu);
        }
    }
    EXPECT_EQ(VARKO_SetImage(8, "/images/modem.bin", "1A0000"), 8);
    for (const auto& row : g_imageTable) {
        EXPECT_EQ(row[8].kind, 8);
        EXPECT_EQ(row[8].address, 0x1A0000u);
        EXPECT_STREQ(row[8].path, "/images/modem.bin");
    }
    EXPECT_EQ(VARKO_SetImage(12, "/x", "0"), -1);
    EXPECT_EQ(VARKO_SetImage(-1, "/x", "0"), -1);
    EXPECT_EQ(VARKO_SetImage(9, "/x", "not hex"), -1);
    EXPECT_EQ(VARKO_SetImage(9, std::string(1024, 'p').c_str(), "0"), -1);  // would be cut
    EXPECT_EQ(g_imageTable[3][9].kind, -1);
    EXPECT_EQ(g_imageTable[3][9].path[0], '\0');
    EXPECT_EQ(VARKO_BlockSize(4), 0x3E00u);
    EXPECT_EQ(VARKO_BlockSize(5), 0x3E00u);
    EXPECT_EQ(VARKO_BlockSize(8), 0x4000u);
}

TEST(ImageTableTest, OnlyRegularFilesThatFitBelow4GiBAreImages) {
    TempDir dir;
    const std::string image = dir.File("m.bin");
    WriteFile(image, std::vector<uint8_t>(100 * 1024, 1));  // 7 blocks
    const std::string sbl = dir.File("s.mbn");
    WriteFile(sbl, std::vector<uint8_t>(40000, 2));  // 3 blocks of 0x3E00, 0x4000 apart
    VARKO_ClearImages();
    EXPECT_EQ(VARKO_SetImage(8, image.c_str(), "FFFF0000"), -1);  // would wrap to 0
    EXPECT_EQ(VARKO_SetImage(8, image.c_str(), "FFFE4004"), -1);
    EXPECT_STREQ(g_imageTable[0][8].path, "");
    EXPECT_EQ(VARKO_SetImage(8, image.c_str(), "FFFE4000"), 8);  // ends at 4 GiB exactly
    EXPECT_EQ(VARKO_SetImage(4, sbl.c_str(), "FFFF4200"), 4);
    EXPECT_EQ(VARKO_SetImage(4, sbl.c_str(), "FFFF4201"), -1);

    std::vector<std::string> others = testing_support::NonRegularFiles(dir);
    others.push_back(dir.path());
    for (const std::string& path : others) {
        EXPECT_EQ(VARKO_CheckImage(8, path.c_str(), 0), ImageCheck::kNotAFile) << path;
        EXPECT_EQ(VARKO_SetImage(9, path.c_str(), "0"), -1) << path;
        uint32_t crc = 0;
        EXPECT_FALSE(VARKO_FileCrc32(path.c_str(), &crc)) << path;  // ends at once
    }
    EXPECT_EQ(VARKO_CheckImage(8, dir.File("missing.bin").c_str(), 0), ImageCheck::kOk);
}

TEST(ImageTableTest, FilesThatCannotBeFlashedAreRefusedWhenChosen) {
    // Sparse files: only their sizes matter here.
    TempDir dir;
    struct Case {
        uint64_t size;
        const char* address;
        ImageCheck check;
    };
    const Case cases[] = {
        {0, "20000", ImageCheck::kEmpty},
        {1, "20000", ImageCheck::kOk},
        {4ull << 30, "0", ImageCheck::kBeyond4GiB},
        {(4ull << 30) - 1, "0", ImageCheck::kBeyond4GiB},  // rounded up: 4 GiB to erase
        {kMaxImageBytes, "0", ImageCheck::kOk},
        {kMaxImageBytes + 1, "0", ImageCheck::kTooLarge},
    };
    for (const Case& c : cases) {
        const std::string path = dir.File("i" + std::to_string(c.size));
        WriteFile(path, {});
        std::filesystem::resize_file(path, c.size);
        uint32_t address = 0;
        ASSERT_TRUE(VARKO_ParseAddress(c.address, &address));
        EXPECT_EQ(VARKO_CheckImage(8, path.c_str(), address), c.check) << c.size;
        VARKO_ClearImages();
        EXPECT_EQ(VARKO_SetImage(8, path.c_str(), c.address), c.check == ImageCheck::kOk ? 8 : -1)
            << c.size;
    }
}

TEST(ImageTableTest, TrailerReaderTakesOnlyThisFilesTrailer) {
    TempDir dir;
    RecordingPrompt prompt;
    platform::SetOperatorPrompt(&prompt);
    const std::string good = dir.File("modem.bin");
    const std::string plain = dir.File("plain.bin");
    const std::string tiny = dir.File("tiny.bin");
    WriteFile(good, WithTrailer(5000, 0x1A0000, "MODEM_X", "bin"));
    WriteFile(plain, std::vector<uint8_t>(4096, 0x11));
    WriteFile(tiny, std::vector<uint8_t>(100, 0x22));

    uint32_t address = 7;
    EXPECT_EQ(VARKO_ReadTrailer(good.c_str(), &address), 1);
    EXPECT_EQ(address, 0x1A0000u);
    EXPECT_STREQ(g_imageTrailer.kind, "MODEM_X");
    EXPECT_STREQ(g_imageTrailer.type, "bin");
    EXPECT_TRUE(prompt.texts.empty());

    // A short file right after a good one must not inherit its trailer.
    address = 7;
    EXPECT_EQ(VARKO_ReadTrailer(tiny.c_str(), &address), 0);
    EXPECT_EQ(address, 0u);
    EXPECT_STREQ(g_imageTrailer.kind, "");
    EXPECT_EQ(VARKO_ReadTrailer(plain.c_str(), &address), 0);
    ASSERT_EQ(prompt.texts.size(), 2u);
    EXPECT_EQ(prompt.texts[0], "Error!!\nNot contained MagicCode or Binary_Kind\n");

    // A missing file or an empty path: no box, no address.
    address = 7;
    EXPECT_EQ(VARKO_ReadTrailer(dir.File("missing.bin").c_str(), &address), 0);
    EXPECT_EQ(VARKO_ReadTrailer("", &address), 0);
    EXPECT_EQ(address, 7u);
    EXPECT_EQ(prompt.texts.size(), 2u);
    platform::SetOperatorPrompt(nullptr);
}

TEST(ImageTableTest, FileCrc32StreamsTheWholeFile) {
    TempDir dir;
    WriteFile(dir.File("digits"), {'1', '2', '3', '4', '5', '6', '7', '8', '9'});
    WriteFile(dir.File("empty"), {});
    uint32_t crc = 1;
    ASSERT_TRUE(VARKO_FileCrc32(dir.File("digits").c_str(), &crc));
    EXPECT_EQ(crc, 0xCBF43926u);
    ASSERT_TRUE(VARKO_FileCrc32(dir.File("empty").c_str(), &crc));
    EXPECT_EQ(crc, 0u);
    // Larger than one read block: the running CRC must carry across reads.
    std::vector<uint8_t> big(200000);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<uint8_t>(i * 31 + 7);
    WriteFile(dir.File("big"), big);
    ASSERT_TRUE(VARKO_FileCrc32(dir.File("big").c_str(), &crc));
    EXPECT_EQ(crc, VARKO_Crc32(0, big.data(), big.size()));
    EXPECT_FALSE(VARKO_FileCrc32(dir.File("missing").c_str(), &crc));
}

}  // namespace
