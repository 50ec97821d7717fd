// The kelvane program keeps the station's records as kelvane-cli does: a
// download pressed in the window leaves one record per channel, with the
// image set the window had loaded and the station named in the settings.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

#include "engine/image.h"
#include "records/local_store.h"
#include "sim/simulator.h"
#include "tests/records/records_test_util.h"
#include "tests/support/pty_peer.h"

extern char** environ;

namespace {

using records_test::ReadAll;
using records_test::StartHandsets;
using testing_support::TempDir;

// Starts the window in folder with its automation options; -1 when it
// could not be started.
pid_t StartWindow(const std::string& folder, const std::vector<std::string>& args) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv{const_cast<char*>(KELVANE_WINDOW_PATH)};
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    pid_t pid = -1;
    const int spawned =
        posix_spawn(&pid, KELVANE_WINDOW_PATH, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0 ? pid : -1;
}

// The window's exit status, -1 when it did not end within two minutes or
// ended by a signal.
int WaitWindow(pid_t pid) {
    if (pid < 0) return -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int RunWindow(const std::string& folder, const std::vector<std::string>& args) {
    return WaitWindow(StartWindow(folder, args));
}

// A station in start: a modem image of size bytes in an image set, the
// window's settings for channel 0 on COM1 at baud; the image's path.
std::string WriteStation(const TempDir& start, size_t size, int baud, std::string* set) {
    std::vector<char> image(size, 0x5a);
    ImageTrailer trailer{};
    trailer.magic = kTrailerMagic;
    trailer.address = 0x20000;
    std::strcpy(trailer.kind, "MODEM");
    std::strcpy(trailer.type, "bin");
    const auto* raw = reinterpret_cast<const char*>(&trailer);
    image.insert(image.end(), raw, raw + sizeof trailer);
    const std::string modem = start.File("modem.bin");
    std::ofstream(modem, std::ios::binary).write(image.data(), static_cast<long>(image.size()));
    *set = start.File("station.vrk");
    std::ofstream(*set) << "[VARKO]\nMTY=0\nCODECHECK=1\nCODEKIND=MODEM\nCODEFILE=" << modem
                        << "\nCODEADDRESS=20000\n";
    std::ofstream(start.File("Kelvane_3.ini"))
        << "[VARKO]\nAUTODETECT=0\nCH0_PORT=1\nDELAY=0\nBAUDRATE=" << baud << "\nVARKOFILE=" << *set
        << "\n\n[RECORDS]\nSTATION=window-station\n";
    return modem;
}

TEST(WindowRecordsTest, ADownloadInTheWindowIsRecorded) {
    TempDir start;
    std::string error;
    const auto handsets = StartHandsets(start.path(), 1, {}, &error);
    ASSERT_NE(handsets, nullptr) << error;
    std::string set;
    const std::string modem = WriteStation(start, 20000, 1382400, &set);
    const size_t imageSize = 20000 + sizeof(ImageTrailer);

    // The 20 KB are on the handset long before the window closes.
    ASSERT_EQ(RunWindow(start.path(), {"--screenshot", start.File("shot.png"), "--download",
                                       "--after-ms", "12000"}),
              0);

    const auto found = ReadAll(start.File("Kelvane_records.db"));
    ASSERT_EQ(found.size(), 1u);
    const records::ChannelRecord& r = found[0];
    EXPECT_EQ(r.station, "window-station");
    EXPECT_EQ(r.imageSet, set);
    EXPECT_EQ(r.channel, 0);
    EXPECT_EQ(r.comPort, 1);
    EXPECT_EQ(r.result, "completed") << r.lastText;
    ASSERT_EQ(r.images.size(), 1u);
    EXPECT_EQ(r.images[0].slot, "Modem");
    EXPECT_EQ(r.images[0].path, modem);
    EXPECT_EQ(r.images[0].size, static_cast<int64_t>(imageSize));
}

// SIGTERM raises the same stop flag as Ctrl-C and a hang-up (kelvane-cli's
// tests send those): the window looks at the flag and closes.
TEST(WindowRecordsTest, ATermStopsTheDownloadAndFinishesItsRecord) {
    TempDir start;
    std::string error;
    const auto handsets = StartHandsets(start.path(), 1, {}, &error, 115200);  // 2 MB: minutes
    ASSERT_NE(handsets, nullptr) << error;
    std::string set;
    WriteStation(start, 2 << 20, 115200, &set);
    const pid_t window = StartWindow(start.path(), {"--download"});
    ASSERT_GT(window, 0);
    const bool writing = testing_support::WaitFor([&] { return handsets->Stats(0).writes > 0; },
                                                  std::chrono::seconds(60));
    kill(window, SIGTERM);
    ASSERT_TRUE(writing);
    EXPECT_EQ(WaitWindow(window), 1);
    const auto found = ReadAll(start.File("Kelvane_records.db"));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].result, "stopped");
    ASSERT_EQ(found[0].images.size(), 1u);  // the image partly written
    EXPECT_EQ(found[0].images[0].slot, "Modem");
}

}  // namespace
