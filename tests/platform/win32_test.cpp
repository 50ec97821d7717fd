// The Windows platform files on their own: the registry's port list, INI
// files another program holds, 64-bit file sizes, console detection, UTF-8
// text in a console and an older INI file's ANSI paths.
#include <gtest/gtest.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/console_text.h"
#include "platform/file_replace.h"
#include "platform/files.h"
#include "platform/ini.h"
#include "platform/path.h"
#include "platform/serial_port.h"
#include "platform/serial_ports.h"
#include "platform/terminal.h"
#include "tests/support/pty_peer.h"

namespace {

using testing_support::TempDir;
namespace fs = std::filesystem;

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Values in the registry's serial-port map, removed again with the object.
class SerialCommValues {
public:
    SerialCommValues() {
        ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr,
                          REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key_, nullptr);
    }
    ~SerialCommValues() {
        for (const std::string& name : names_)
            ::RegDeleteValueA(key_, name.c_str());
        ::RegCloseKey(key_);
    }
    bool Set(const std::string& name, const std::string& data) {
        names_.push_back(name);
        return ::RegSetValueExA(key_, name.c_str(), 0, REG_SZ,
                                reinterpret_cast<const BYTE*>(data.c_str()),
                                static_cast<DWORD>(data.size() + 1)) == ERROR_SUCCESS;
    }

private:
    HKEY key_ = nullptr;
    std::vector<std::string> names_;
};

const platform::SerialPortInfo* FindPort(const std::vector<platform::SerialPortInfo>& ports,
                                         int comNumber) {
    for (const platform::SerialPortInfo& port : ports)
        if (port.comNumber == comNumber) return &port;
    return nullptr;
}

TEST(Win32PlatformTest, SerialPortsComeFromTheRegistrysSerialPortMap) {
    SerialCommValues values;
    ASSERT_TRUE(values.Set("\\Device\\kvmodem-test7", "COM47"));
    ASSERT_TRUE(values.Set("\\Device\\Serial46", "com46"));
    ASSERT_TRUE(values.Set("\\Device\\Parallel0", "LPT1"));  // no COM port
    const auto ports = platform::MakeSystemSerialPortSource()->List();
    const platform::SerialPortInfo* handset = FindPort(ports, 47);
    const platform::SerialPortInfo* plain = FindPort(ports, 46);
    ASSERT_NE(handset, nullptr);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(handset->name, "\\Device\\kvmodem-test7");
    EXPECT_EQ(handset->devicePath, "\\\\.\\COM47");
    EXPECT_TRUE(platform::IsHandsetPortName(handset->name));
    EXPECT_FALSE(platform::IsHandsetPortName(plain->name));
    EXPECT_LT(plain - ports.data(), handset - ports.data());  // in COM order
    for (const platform::SerialPortInfo& port : ports)
        EXPECT_GT(port.comNumber, 0) << port.name;
}

TEST(Win32PlatformTest, MissingComPortsFailToOpen) {
    platform::SerialPort port;
    int error = 0;
    std::string path;
    EXPECT_EQ(port.OpenCom(0, 115200, &error, &path),
              platform::SerialPort::OpenResult::kOpenFailed);
    EXPECT_EQ(port.OpenCom(213, 115200, &error, &path),
              platform::SerialPort::OpenResult::kOpenFailed);
    EXPECT_EQ(path, "\\\\.\\COM213");
    EXPECT_NE(error, 0);
    EXPECT_FALSE(port.IsOpen());
    uint8_t byte = 0;
    EXPECT_EQ(port.Read(&byte, 1), -1);
    EXPECT_EQ(port.Write(&byte, 1, 10), -1);
}

TEST(Win32PlatformTest, TwoKelvanePortsNeverDriveOneDevice) {
    using platform::SerialPort;
    // A COM port another Kelvane program holds is refused before it is opened.
    HANDLE other = ::CreateMutexA(nullptr, FALSE, "Local\\Kelvane-COM213");
    ASSERT_NE(other, nullptr);
    SerialPort port;
    int error = 0;
    EXPECT_EQ(port.OpenCom(213, 115200, &error), SerialPort::OpenResult::kOpenFailed);
    EXPECT_EQ(platform::SerialOpenErrorText(error), "in use by another program");
    ::CloseHandle(other);
    EXPECT_EQ(port.OpenCom(213, 115200, &error), SerialPort::OpenResult::kOpenFailed);
    EXPECT_EQ(error, ERROR_FILE_NOT_FOUND);  // let go: only the missing port is left

    // Wine opens a pseudo-terminal as a serial device for every program that
    // asks, share mode 0 or not; the second Kelvane port is refused all the
    // same, until the first is closed.
    if (::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "wine_get_version") == nullptr) {
        GTEST_SKIP() << "needs Wine's pseudo-terminals";
    }
    const char* device = "Z:\\dev\\ptmx";
    SerialPort first;
    SerialPort second;
    ASSERT_EQ(first.Open(device, 115200, &error), SerialPort::OpenResult::kOk) << error;
    HANDLE plain = ::CreateFileA(device, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OVERLAPPED, nullptr);
    EXPECT_NE(plain, INVALID_HANDLE_VALUE);  // the system lets a second program in
    if (plain != INVALID_HANDLE_VALUE) ::CloseHandle(plain);
    EXPECT_EQ(second.Open(device, 115200, &error), SerialPort::OpenResult::kOpenFailed);
    EXPECT_EQ(error, ERROR_SHARING_VIOLATION);
    first.Close();
    EXPECT_EQ(second.Open(device, 115200, &error), SerialPort::OpenResult::kOk) << error;
}

TEST(Win32PlatformTest, AnIniFileReplacesAnExistingOneUnlessAnotherProgramHoldsIt) {
    TempDir dir;
    const std::string file = dir.File("held.ini");
    ASSERT_TRUE(platform::IniWriteString("VARKO", "A", "1", file.c_str()));
    ASSERT_TRUE(platform::IniWriteString("VARKO", "A", "2", file.c_str()));  // replaces
    EXPECT_EQ(Slurp(file), "[VARKO]\r\nA=2\r\n");

    // Held without sharing: the write gives up after its short retry, and
    // the file and its folder are as they were.
    HANDLE held = ::CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(platform::IniWriteString("VARKO", "A", "3", file.c_str()));
    ::CloseHandle(held);
    EXPECT_EQ(Slurp(file), "[VARKO]\r\nA=2\r\n");
    int entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        entries += entry.exists();
    EXPECT_EQ(entries, 1);

    // Let go: the next write goes through.
    EXPECT_TRUE(platform::IniWriteString("VARKO", "A", "4", file.c_str()));
    EXPECT_EQ(Slurp(file), "[VARKO]\r\nA=4\r\n");
}

TEST(Win32PlatformTest, FileSizesAbove4GiBAreKept) {
    TempDir dir;
    const std::string path = dir.File("big.bin");
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    LARGE_INTEGER size{};
    size.QuadPart = 5LL << 30;
    ASSERT_TRUE(::SetFilePointerEx(file, size, nullptr, FILE_BEGIN));
    ASSERT_TRUE(::SetEndOfFile(file));
    ::CloseHandle(file);
    uint64_t found = 0;
    EXPECT_EQ(platform::KindOfFile(path.c_str(), &found), platform::FileKind::kRegular);
    EXPECT_EQ(found, 5ull << 30);
    platform::FileVersion version;
    ASSERT_TRUE(platform::RegularFileVersion(path, &version));
    EXPECT_EQ(version.size, 5ull << 30);
    EXPECT_EQ(platform::KindOfFile("NUL", nullptr), platform::FileKind::kOther);
    EXPECT_EQ(platform::KindOfFile(dir.path().c_str(), nullptr), platform::FileKind::kOther);
    EXPECT_EQ(platform::KindOfFile(dir.File("none").c_str(), nullptr),
              platform::FileKind::kMissing);
}

TEST(Win32PlatformTest, OnlyAConsoleGetsLiveLines) {
    TempDir dir;
    FILE* nul = std::fopen("NUL", "w");
    ASSERT_NE(nul, nullptr);
    EXPECT_FALSE(platform::IsLiveConsole(nul));  // the C runtime's isatty says yes
    std::fclose(nul);
    FILE* file = std::fopen(dir.File("out.txt").c_str(), "w");
    ASSERT_NE(file, nullptr);
    EXPECT_FALSE(platform::IsLiveConsole(file));
    std::fclose(file);
    EXPECT_FALSE(platform::IsLiveConsole(nullptr));
}

// An INI file an older version wrote in the ANSI code page: its path, no
// UTF-8, is read in that code page and names its folder, and a save of
// another key keeps its line byte for byte.
TEST(Win32PlatformTest, AnAnsiPathOfAnOlderIniFileNamesItsFolderAndSurvivesASave) {
    if (::GetACP() != 1252) GTEST_SKIP() << "written for the ANSI code page 1252";
    TempDir dir;
    fs::create_directory(fs::path(dir.path()) / u8"café");
    const std::string ansiFolder = dir.File("caf\xE9");
    const std::string ini = dir.File("Kelvane_3.ini");
    std::ofstream(ini, std::ios::binary)
        << "[VARKO]\r\nBOOTDIR=" << ansiFolder << "\r\nDELAY=0\r\n";
    platform::IniFile file;
    ASSERT_EQ(file.Load(ini.c_str()), platform::FileRead::kRead);
    std::string value;
    ASSERT_TRUE(file.Find("VARKO", "BOOTDIR", &value));
    EXPECT_EQ(value, ansiFolder);
    EXPECT_TRUE(platform::IsFolder(value));
    EXPECT_EQ(platform::PathText(platform::FileSystemPath(value)), dir.File("caf\xC3\xA9"));
    file.Set("VARKO", "DELAY", "5");
    ASSERT_TRUE(file.Save());
    EXPECT_EQ(Slurp(ini), "[VARKO]\r\nBOOTDIR=" + ansiFolder + "\r\nDELAY=5\r\n");
}

// UTF-8 text shows in a console as the letters it spells, and goes to a
// file as the same bytes.
TEST(Win32PlatformTest, Utf8TextShowsInAConsoleAndKeepsItsBytesInAFile) {
    TempDir dir;
    FILE* file = std::fopen(dir.File("out.txt").c_str(), "wb");
    ASSERT_NE(file, nullptr);
    platform::WriteText(file, "caf\xC3\xA9 \xD0\x96\n");
    std::fclose(file);
    EXPECT_EQ(Slurp(dir.File("out.txt")), "caf\xC3\xA9 \xD0\x96\n");

    ::FreeConsole();
    if (!::AllocConsole()) GTEST_SKIP() << "no console can be made here";
    FILE* console = std::fopen("CONOUT$", "r+");
    ASSERT_NE(console, nullptr);
    const auto out = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(console)));
    CONSOLE_SCREEN_BUFFER_INFO info{};
    ASSERT_TRUE(::GetConsoleScreenBufferInfo(out, &info));
    platform::PrintText(console, "%s %s", "caf\xC3\xA9", "\xD0\x96\xD0\xB6");
    std::fflush(console);
    wchar_t shown[8] = {};
    DWORD read = 0;
    ::ReadConsoleOutputCharacterW(out, shown, 7, info.dwCursorPosition, &read);
    std::fclose(console);
    ::FreeConsole();
    EXPECT_EQ(std::wstring(shown, read), L"caf\u00E9 \u0416\u0436");
}

}  // namespace
