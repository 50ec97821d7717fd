// The INI layer: lookups, value clean-up, and writes that keep everything
// else in the file and never leave half a file behind.
#include "platform/ini.h"
#include "platform/file_replace.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/port_map.h"
#include "platform/serial_ports.h"
#include "tests/support/pty_peer.h"

namespace {

using testing_support::TempDir;

std::string Slurp(const std::string& path) {
    std::string out;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return "<missing>";
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        out.append(buffer, n);
    std::fclose(f);
    return out;
}

void Spit(const std::string& path, const std::string& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

std::string Get(const char* section, const char* key, const std::string& file, uint32_t size = 64) {
    char out[1024];
    platform::IniReadString(section, key, "dflt", out, size, file.c_str());
    return out;
}

TEST(IniTest, LookupsFollowPrivateProfileRules) {
    TempDir dir;
    const std::string file = dir.File("a.ini");
    Spit(file,
         "stray=outside any section\n"
         "; a comment\n"
         "[Varko]\n"
         "  Port =  \" quoted value \"  \n"
         "single='x'\n"
         "mixed=\"x'\n"
         "no equals sign here\n"
         "num=  42abc\n"
         "neg=-5\n"
         "plus=+3x\n"
         "word=yes\n"
         "empty=\n"
         "dup=first\n"
         "dup=second\n"
         "[other]\n"
         "port=elsewhere\n");
    EXPECT_EQ(Get("VARKO", "PORT", file), " quoted value ");
    EXPECT_EQ(Get("varko", "single", file), "x");
    EXPECT_EQ(Get("VARKO", "mixed", file), "\"x'");
    EXPECT_EQ(Get("VARKO", "dup", file), "first");
    EXPECT_EQ(Get("VARKO", "stray", file), "dflt");
    EXPECT_EQ(Get("VARKO", "no equals sign here", file), "dflt");
    EXPECT_EQ(Get("OTHER", "Port", file), "elsewhere");
    EXPECT_EQ(Get("VARKO", "missing", file), "dflt");
    EXPECT_EQ(Get("NOSECTION", "port", file), "dflt");
    EXPECT_EQ(Get("VARKO", "port", dir.File("missing.ini")), "dflt");
    EXPECT_EQ(Get("VARKO", "port", file, 4), " qu");  // cut to the buffer

    EXPECT_EQ(platform::IniReadInt("VARKO", "num", 7, file.c_str()), 42);
    // Signs and names with blanks around them are read as Windows reads them.
    EXPECT_EQ(platform::IniReadInt("VARKO", "neg", 7, file.c_str()), -5);
    EXPECT_EQ(platform::IniReadInt("VARKO", " plus ", 7, file.c_str()), 3);
    EXPECT_EQ(Get(" VARKO ", "  single ", file), "x");
    EXPECT_EQ(platform::IniReadInt("VARKO", "word", 7, file.c_str()), 0);
    EXPECT_EQ(platform::IniReadInt("VARKO", "empty", 7, file.c_str()), 7);
    EXPECT_EQ(platform::IniReadInt("VARKO", "missing", 7, file.c_str()), 7);
}

TEST(IniTest, WritesKeepEveryOtherLineAndTheLineEndings) {
    TempDir dir;
    const std::string file = dir.File("b.ini");
    const std::string original =
        "; station settings\r\n"
        "[VARKO]\r\n"
        "Delay = 5 ; keep me\r\n"
        "UNKNOWN=stays\r\n"
        "\r\n"
        "[OTHER]\r\n"
        "x=1\r\n";
    Spit(file, original);
    ASSERT_TRUE(platform::IniWriteString("VARKO", "DELAY", "9", file.c_str()));
    ASSERT_TRUE(platform::IniWriteString("VARKO", "BAUDRATE", "115200", file.c_str()));
    ASSERT_TRUE(platform::IniWriteString("NEW", "K", "v", file.c_str()));
    EXPECT_EQ(Slurp(file),
              "; station settings\r\n"
              "[VARKO]\r\n"
              "Delay=9\r\n"
              "UNKNOWN=stays\r\n"
              "BAUDRATE=115200\r\n"
              "\r\n"
              "[OTHER]\r\n"
              "x=1\r\n"
              "\r\n"
              "[NEW]\r\n"
              "K=v\r\n");
    // A line break in a value cannot start a new line.
    ASSERT_TRUE(platform::IniWriteString("OTHER", "x", "2\n[EVIL]\nk=1", file.c_str()));
    EXPECT_EQ(Get("OTHER", "x", file), "2");
    EXPECT_EQ(Get("EVIL", "k", file), "dflt");
    // A null value removes the key and nothing else.
    ASSERT_TRUE(platform::IniWriteString("VARKO", "UNKNOWN", nullptr, file.c_str()));
    EXPECT_EQ(Slurp(file).find("UNKNOWN"), std::string::npos);
    EXPECT_EQ(Get("VARKO", "BAUDRATE", file), "115200");

    // A new file is created with its section, in the system's line-end style
    // (CRLF on Windows); a file without a last line end gets one before the
    // new key.
    const std::string fresh = dir.File("fresh.ini");
    ASSERT_TRUE(platform::IniWriteString("S", "k", "v", fresh.c_str()));
    const std::string eol = platform::kSystemLineEnd;
    EXPECT_EQ(Slurp(fresh), "[S]" + eol + "k=v" + eol);
    Spit(fresh, "[S]\nk=v");
    ASSERT_TRUE(platform::IniWriteString("S", "j", "w", fresh.c_str()));
    EXPECT_EQ(Slurp(fresh), "[S]\nk=v\nj=w\n");

    // Several keys set in one go before one save: every later line moves with
    // a value that grows or shrinks.
    Spit(fresh, "[A]\nk1=1\nk2=2\n[B]\nk3=3\n");
    platform::IniFile ini;
    ASSERT_EQ(ini.Load(fresh.c_str()), platform::IniLoad::kRead);
    ini.Set("A", "k1", "1111");
    ini.Set("B", "k3", "");
    ini.Set("A", "k2", "22");
    ini.Set("A", "k4", "4");
    ini.Set("b", "k5", "5");
    ASSERT_TRUE(ini.Save());
    EXPECT_EQ(Slurp(fresh), "[A]\nk1=1111\nk2=22\nk4=4\n[B]\nk3=\nk5=5\n");
}

bool g_failCommit = false;
bool FailingCommit(const char*, const char*) {
    return !g_failCommit;
}

TEST(IniTest, AFailedWriteLeavesTheOldFile) {
    TempDir dir;
    const std::string file = dir.File("c.ini");
    Spit(file, "[VARKO]\nA=1\n");
    platform::SetFileCommitHook(&FailingCommit);
    g_failCommit = true;
    EXPECT_FALSE(platform::IniWriteString("VARKO", "A", "2", file.c_str()));
    platform::SetFileCommitHook(nullptr);
    EXPECT_EQ(Slurp(file), "[VARKO]\nA=1\n");

    // No temporary file is left behind.
    int entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        entries += e.exists();
    EXPECT_EQ(entries, 1);

    // A file that exists but cannot be read is never replaced.
    const std::string folder = dir.File("a-folder.ini");
    std::filesystem::create_directory(folder);
    EXPECT_FALSE(platform::IniWriteString("VARKO", "A", "2", folder.c_str()));
    EXPECT_TRUE(std::filesystem::is_directory(folder));

    // A missing folder: the write fails, nothing appears.
    EXPECT_FALSE(platform::IniWriteString("VARKO", "A", "2", dir.File("no/such/x.ini").c_str()));
}

TEST(IniTest, ALongFileNameLeavesRoomForTheTemporaryFile) {
    TempDir dir;
    const std::string longName = dir.File(std::string(250, 'n') + ".vrk");
    FILE* probe = std::fopen(longName.c_str(), "wb");
    if (probe == nullptr) GTEST_SKIP() << "this file system takes no name of 254 characters";
    std::fclose(probe);
    EXPECT_TRUE(platform::IniWriteString("VARKO", "A", "3", longName.c_str()));
    EXPECT_EQ(Get("VARKO", "A", longName), "3");
}

TEST(IniTest, BinaryAndTruncatedFilesNeverCrash) {
    TempDir dir;
    const std::string file = dir.File("junk.ini");
    std::string junk;
    for (int i = 0; i < 70000; ++i)
        junk.push_back(static_cast<char>((i * 7919) & 0xFF));
    const char tail[] = "\n[VARKO]\nKEY=va\0lue\n[VARKO";  // a NUL inside, a section never closed
    junk.append(tail, sizeof tail - 1);
    Spit(file, junk);
    EXPECT_EQ(Get("VARKO", "KEY", file), "va");
    EXPECT_TRUE(platform::IniWriteString("VARKO", "KEY", "ok", file.c_str()));
    EXPECT_EQ(Get("VARKO", "KEY", file), "ok");
    std::string after = Slurp(file);
    EXPECT_EQ(after.substr(0, 70000), junk.substr(0, 70000));
}

TEST(IniTest, AByteOrderMarkIsSkippedOnReadingAndKeptOnWriting) {
    TempDir dir;
    const std::string file = dir.File("bom.ini");
    Spit(file, "\xEF\xBB\xBF[VARKO]\r\nDELAY=7\r\n");
    EXPECT_EQ(Get("VARKO", "DELAY", file), "7");
    ASSERT_TRUE(platform::IniWriteString("VARKO", "BAUDRATE", "9600", file.c_str()));
    EXPECT_EQ(Slurp(file), "\xEF\xBB\xBF[VARKO]\r\nDELAY=7\r\nBAUDRATE=9600\r\n");
}

TEST(IniTest, CrLfAndCrLfPairsAllEndLines) {
    TempDir dir;
    const std::string file = dir.File("mac.ini");
    Spit(file, "[VARKO]\rA=1\rB=2\r\nC=3\n; note\r");
    EXPECT_EQ(Get("VARKO", "A", file), "1");
    EXPECT_EQ(Get("VARKO", "B", file), "2");
    EXPECT_EQ(Get("VARKO", "C", file), "3");
    ASSERT_TRUE(platform::IniWriteString("VARKO", "B", "9", file.c_str()));
    ASSERT_TRUE(platform::IniWriteString("VARKO", "D", "4", file.c_str()));
    // Every other line byte for byte; a new line takes the file's first style.
    EXPECT_EQ(Slurp(file), "[VARKO]\rA=1\rB=9\r\nC=3\n; note\rD=4\r");
}

TEST(IniTest, ReadOnlyFilesAreKept) {
    TempDir dir;
    const std::string file = dir.File("locked.vrk");
    Spit(file, "[VARKO]\nA=1\n");
    std::filesystem::permissions(file, std::filesystem::perms::owner_read |
                                           std::filesystem::perms::group_read |
                                           std::filesystem::perms::others_read);
    EXPECT_FALSE(platform::IniWriteString("VARKO", "A", "2", file.c_str()));
    EXPECT_EQ(Slurp(file), "[VARKO]\nA=1\n");
}

TEST(IniTest, LinksAreFollowed) {
    TempDir dir;
    std::filesystem::create_directory(dir.File("real"));
    const std::string target = dir.File("real/set.vrk");
    Spit(target, "[VARKO]\nA=1\n");
    const std::string link = dir.File("link.vrk");
    std::error_code error;
    std::filesystem::create_symlink("real/set.vrk", link, error);  // relative to the link's folder
    if (error) GTEST_SKIP() << "this system makes no symbolic links: " << error.message();
    ASSERT_TRUE(platform::IniWriteString("VARKO", "A", "3", link.c_str()));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(Slurp(target), "[VARKO]\nA=3\n");
}

TEST(IniTest, FilesOverOneMebibyteAreNeitherReadNorRewritten) {
    TempDir dir;
    const std::string file = dir.File("big.ini");
    std::string bytes = "[VARKO]\nA=1\n";
    bytes.resize(platform::kMaxIniFileSize, '\n');
    Spit(file, bytes);
    EXPECT_EQ(Get("VARKO", "A", file), "1");  // exactly the limit is read

    bytes += "\n";
    Spit(file, bytes);
    EXPECT_EQ(Get("VARKO", "A", file), "dflt");
    platform::IniFile ini;
    EXPECT_EQ(ini.Load(file.c_str()), platform::IniLoad::kTooLarge);
    EXPECT_FALSE(platform::IniWriteString("VARKO", "A", "2", file.c_str()));
    EXPECT_EQ(Slurp(file), bytes);
}

TEST(IniTest, PortMapNamesDevicesByComNumber) {
    TempDir dir;
    platform::PortMap_SetDirectory(dir.path());
    EXPECT_EQ(platform::PortMap_File(), dir.File("Kelvane_ports.ini"));
    EXPECT_EQ(platform::PortMap_DevicePath(1), "/dev/ttyS0");
    EXPECT_EQ(platform::PortMap_DevicePath(12), "/dev/ttyS11");
    EXPECT_EQ(platform::PortMap_DevicePath(0), "");
    platform::IniWriteString("PORTS", "COM12", "/dev/pts/9", platform::PortMap_File().c_str());
    EXPECT_EQ(platform::PortMap_DevicePath(12), "/dev/pts/9");

    // Named entries are the simulator's handset ports; other keys are not ports.
    const std::string map = platform::PortMap_File();
    platform::IniWriteString("PORTS", "NAME12", "kvmodem-sim0", map.c_str());
    platform::IniWriteString("PORTS", "NAMEX", "junk", map.c_str());
    platform::IniWriteString("PORTS", "NAME3", "", map.c_str());
    auto named = platform::PortMap_NamedPorts();
    ASSERT_EQ(named.size(), 1u);
    EXPECT_EQ(named[0].name, "kvmodem-sim0");
    EXPECT_EQ(named[0].comNumber, 12);
    EXPECT_EQ(named[0].devicePath, "/dev/pts/9");
    auto section = platform::IniReadSection("ports", map.c_str());
    EXPECT_EQ(section.size(), 4u);
}

}  // namespace
