// The recorder watching real sessions against simulated handsets: what each
// channel's record says after completed, failed and stopped channels, and
// that no records problem (a bad server URL, a corrupt or read-only
// database) ever stops a flash.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <mutex>

#include "engine/observer.h"
#include "engine/session.h"
#include "link/serial.h"
#include "platform/notify.h"
#include "platform/port_map.h"
#include "records/recorder.h"
#include "sim/crc32.h"
#include "tests/records/records_test_util.h"

namespace {

using namespace records_test;
using records::ChannelRecord;
using testing_support::TempDir;

class SilentPrompt : public platform::OperatorPrompt {
public:
    void ShowText(const char*) override {}
    bool AskYesNo(const char*) override { return false; }
};

class Messages {
public:
    records::MessageSink Sink() {
        return [this](const std::string& text) {
            std::lock_guard<std::mutex> lock(mutex_);
            texts_.push_back(text);
        };
    }
    std::string All() {
        std::lock_guard<std::mutex> lock(mutex_);
        std::string out;
        for (const std::string& t : texts_)
            out += t + "\n";
        return out;
    }

private:
    std::mutex mutex_;
    std::vector<std::string> texts_;
};

bool Completed(testing_support::RecordingReceiver& receiver, int channel) {
    for (const auto& e : receiver.Entries()) {
        if (e.code == NOTIFY_CHANNEL_TEXT && e.channel == channel &&
            e.text.find("All file Complete!") != std::string::npos) {
            return true;
        }
    }
    return false;
}

class RecorderSessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_nWriteDelay = 0;
        platform::SetOperatorPrompt(&prompt_);
        VARKO_ClearImages();
    }
    void TearDown() override {
        engine::SetSessionObserver(nullptr);
        platform::SetOperatorPrompt(nullptr);
        g_nWriteDelay = 2;
    }
    records::RecorderOptions Options(const std::string& url = "") {
        records::RecorderOptions options;
        options.databasePath = database_;
        options.station = "station-7";
        options.serverUrl = url;
        options.imageSetFile = [] { return std::string("/line/sets/phone.vrk"); };
        options.messages = messages_.Sink();
        return options;
    }
    // One channel flashed with a small image while the recorder is in place.
    bool FlashOne(records::Recorder& recorder) {
        std::string error;
        auto handsets = StartHandsets(dir_.path(), 1, {}, &error);
        EXPECT_NE(handsets, nullptr) << error;
        if (handsets == nullptr) return false;
        VARKO_SetImage(8, WriteFile(dir_.File("m.bin"), Pattern(0x6000, 1)).c_str(), "20000");
        engine::SetSessionObserver(&recorder);
        StoppingReceiver receiver;
        RunSession(&receiver, 1);
        engine::SetSessionObserver(nullptr);
        return Completed(receiver, 0);
    }

    TempDir dir_;
    std::string database_ = dir_.File("Kelvane_records.db");
    SilentPrompt prompt_;
    Messages messages_;
};

TEST_F(RecorderSessionTest, EightChannelsRecordCompletedFailedAndStoppedHandsets) {
    std::string error;
    // Handset 3 refuses its second block of data; channel 5 is stopped by
    // the operator once its first image is on its way.
    auto handsets = StartHandsets(dir_.path(), 8, {"ch3:nak-err=7@3"}, &error);
    ASSERT_NE(handsets, nullptr) << error;
    const Bytes modem = Pattern(5 * 0x4000 + 100, 1);
    const Bytes rsrc = Pattern(3000, 2);
    const std::string modemPath = WriteFile(dir_.File("modem.bin"), modem);
    const std::string rsrcPath = WriteFile(dir_.File("rsrc1.rc1"), rsrc);
    ASSERT_EQ(VARKO_SetImage(8, modemPath.c_str(), "1A0000"), 8);
    ASSERT_EQ(VARKO_SetImage(9, rsrcPath.c_str(), "400000"), 9);
    {
        records::ScopedRecorder recorder(Options());
        ASSERT_TRUE(recorder.recorder().recording());
        StoppingReceiver receiver;
        receiver.stopAfterProgress = 5;
        RunSession(&receiver, 8);
    }
    EXPECT_EQ(messages_.All(), "");

    const std::vector<ChannelRecord> found = ReadAll(database_);
    ASSERT_EQ(found.size(), 8u);
    std::vector<const ChannelRecord*> byChannel(8, nullptr);
    for (const ChannelRecord& r : found) {
        ASSERT_TRUE(r.channel >= 0 && r.channel < 8);
        EXPECT_EQ(byChannel[r.channel], nullptr) << "two records of channel " << r.channel;
        byChannel[r.channel] = &r;
    }
    for (int ch = 0; ch < 8; ++ch) {
        ASSERT_NE(byChannel[ch], nullptr) << "no record of channel " << ch;
        const ChannelRecord& r = *byChannel[ch];
        const std::string prefix = "CH" + std::to_string(ch) + " ";
        SCOPED_TRACE(prefix);
        EXPECT_EQ(r.station, "station-7");
        EXPECT_EQ(r.sessionStart, found.front().sessionStart);
        EXPECT_LE(r.sessionStart, r.channelStart);
        EXPECT_LE(r.channelStart, r.channelEnd);
        EXPECT_EQ(r.channelStart.size(), 24u);  // 2026-12-08T09:30:00.123Z
        EXPECT_EQ(r.comPort, ch + 1);
        EXPECT_EQ(r.device, platform::PortMap_DevicePath(ch + 1));
        EXPECT_EQ(r.imageSet, "/line/sets/phone.vrk");
        EXPECT_EQ(r.version, KELVANE_PROJECT_VERSION);
        ASSERT_FALSE(r.images.empty());
        const records::ImageRecord& first = r.images[0];
        EXPECT_EQ(first.slot, "Modem");
        EXPECT_EQ(first.path, modemPath);
        EXPECT_EQ(first.size, static_cast<int64_t>(modem.size()));
        EXPECT_EQ(first.crc32, Hex(sim::Crc32(modem.data(), modem.size())));
        EXPECT_EQ(first.address, "1a0000");
        if (ch == 3) {
            EXPECT_EQ(r.result, "failed");
            EXPECT_EQ(r.lastText.rfind(prefix + "ERR: [", 0), 0u) << r.lastText;
            ASSERT_EQ(r.images.size(), 1u);  // Rsrc1 was never sent
            EXPECT_EQ(first.resultLine, r.lastText);
        } else if (ch == 5) {
            EXPECT_EQ(r.result, "stopped");
            ASSERT_EQ(r.images.size(), 1u);
            EXPECT_EQ(first.resultLine.rfind(prefix + "ERR: [", 0), 0u) << first.resultLine;
        } else {
            EXPECT_EQ(r.result, "completed");
            EXPECT_EQ(r.lastText.rfind(prefix + "All file Complete! [", 0), 0u) << r.lastText;
            ASSERT_EQ(r.images.size(), 2u);
            EXPECT_EQ(first.resultLine.rfind(prefix + "Modem 82.0KB OK! [", 0), 0u)
                << first.resultLine;
            EXPECT_EQ(r.images[1].slot, "Rsrc1");
            EXPECT_EQ(r.images[1].crc32, Hex(sim::Crc32(rsrc.data(), rsrc.size())));
            EXPECT_EQ(r.images[1].address, "400000");
            EXPECT_EQ(r.images[1].resultLine.rfind(prefix + "Rsrc1 3.0KB OK! [", 0), 0u);
        }
    }
    records::LocalStore store;
    ASSERT_TRUE(store.Open(database_, true, &error)) << error;
    EXPECT_EQ(store.PendingCount(), 0);  // no server: nothing waits for one
}

TEST_F(RecorderSessionTest, ABadServerUrlIsToldAndRecordsStayOnTheStation) {
    {
        records::Recorder malformed(Options("postgresql://line-server:port/records"));
        EXPECT_NE(messages_.All().find("records: the POSTGRESQL_URL in Kelvane_3.ini is not a "
                                       "valid PostgreSQL URL ("),
                  std::string::npos)
            << messages_.All();
        EXPECT_TRUE(malformed.recording());
        EXPECT_FALSE(malformed.forwarding());
        EXPECT_TRUE(FlashOne(malformed));
    }
    ASSERT_EQ(ReadAll(database_).size(), 1u);
    EXPECT_EQ(ReadAll(database_)[0].result, "completed");

    // No server listens on this socket folder: the records wait for one.
    const std::string unreachable =
        "postgresql:///records?host=" + dir_.File("no-server") + "&connect_timeout=2";
    {
        records::Recorder recorder(Options(unreachable));
        EXPECT_NE(messages_.All().find("records: the records server does not answer ("),
                  std::string::npos)
            << messages_.All();
        EXPECT_NE(messages_.All().find("): records are kept on this station and sent when it "
                                       "answers"),
                  std::string::npos);
        EXPECT_TRUE(recorder.forwarding());
        EXPECT_TRUE(FlashOne(recorder));
        EXPECT_EQ(recorder.delivered(), 0);
    }
    ASSERT_EQ(ReadAll(database_).size(), 2u);
    EXPECT_EQ(ReadAll(database_)[0].result, "completed");
    records::LocalStore store;
    std::string error;
    ASSERT_TRUE(store.Open(database_, true, &error)) << error;
    EXPECT_EQ(store.PendingCount(), 3);  // start, image and end of the second record
}

TEST_F(RecorderSessionTest, AnImageRewrittenBetweenSessionsIsRecordedWithItsNewCrc) {
    records::Recorder recorder(Options());
    const Bytes before = Pattern(0x6000, 1);  // what FlashOne writes
    ASSERT_TRUE(FlashOne(recorder));
    // A new build of the image, the same size, written over the old file.
    const Bytes after = Pattern(0x6000, 9);
    std::string error;
    auto handsets = StartHandsets(dir_.path(), 1, {}, &error);
    ASSERT_NE(handsets, nullptr) << error;
    WriteFile(dir_.File("m.bin"), after);
    engine::SetSessionObserver(&recorder);
    StoppingReceiver receiver;
    RunSession(&receiver, 1);
    engine::SetSessionObserver(nullptr);
    const auto found = ReadAll(database_);
    ASSERT_EQ(found.size(), 2u);
    ASSERT_EQ(found[0].images.size(), 1u);
    ASSERT_EQ(found[1].images.size(), 1u);
    EXPECT_EQ(found[1].images[0].crc32, Hex(sim::Crc32(before.data(), before.size())));
    EXPECT_EQ(found[0].images[0].crc32, Hex(sim::Crc32(after.data(), after.size())));
}

TEST_F(RecorderSessionTest, ACorruptDatabaseIsToldAndTheFlashGoesOn) {
    {
        std::ofstream junk(database_);
        junk << std::string(8192, '\x5a');
    }
    records::Recorder recorder(Options());
    EXPECT_FALSE(recorder.recording());
    EXPECT_EQ(messages_.All(), "records: cannot use " + database_ +
                                   ": file is not a database: no records are kept in this run\n");
    EXPECT_TRUE(FlashOne(recorder));
    std::ifstream still(database_, std::ios::binary);
    std::string content((std::istreambuf_iterator<char>(still)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, std::string(8192, '\x5a'));  // never overwritten
}

TEST_F(RecorderSessionTest, AReadOnlyDatabaseIsToldAndTheFlashGoesOn) {
    {
        records::LocalStore store;  // a good database with one record in it
        std::string error;
        ASSERT_TRUE(store.Open(database_, true, &error)) << error;
        records::ChannelRecord r;
        r.id = "kept";
        ASSERT_TRUE(store.Insert(r, false, &error)) << error;
    }
    ASSERT_EQ(::chmod(database_.c_str(), 0444), 0);
    // The simulator's ports and the folder belong to the user the child
    // becomes, the database does not.
    unsigned uid = 0, gid = 0;
    if (::geteuid() == 0) {
        ASSERT_TRUE(NobodyIds(&uid, &gid));
        ASSERT_EQ(::chown(dir_.path().c_str(), uid, gid), 0);
        ASSERT_EQ(::chmod(dir_.path().c_str(), 0755), 0);
    }
    std::string error;
    const int status = RunAsUnprivileged(
        [this] {
            records::Recorder recorder(Options());
            if (recorder.recording()) return 1;
            const std::string told = messages_.All();
            if (told != "records: cannot use " + database_ +
                            ": the file is read-only: no records are kept in this run\n") {
                std::fprintf(stderr, "told: %s", told.c_str());
                return 2;
            }
            return FlashOne(recorder) ? 0 : 3;
        },
        &error);
    EXPECT_EQ(status, 0) << error << " (1: recording, 2: wrong message, 3: flash failed)";
    const auto kept = ReadAll(database_);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].id, "kept");
}

// A recorder whose database another program locks once the channel's first
// image is done and lets go when the channel ends; it keeps the longest an
// image's call took.
class LockedMidSession : public records::Recorder {
public:
    LockedMidSession(records::RecorderOptions options, const std::string& database)
        : Recorder(std::move(options)) {
        sqlite3_open(database.c_str(), &other_);
        sqlite3_busy_timeout(other_, 5000);  // the writer may be inside a short write
    }
    ~LockedMidSession() override { sqlite3_close(other_); }
    void ImageFinished(int channel, const engine::ImageOutcome& image) override {
        const auto start = std::chrono::steady_clock::now();
        Recorder::ImageFinished(channel, image);
        longest = std::max(longest, std::chrono::steady_clock::now() - start);
        if (++images_ == 1) locked = Exec("BEGIN IMMEDIATE");
    }
    void ChannelFinished(int channel, engine::ChannelResult result, const char* text) override {
        released = Exec("ROLLBACK");
        Recorder::ChannelFinished(channel, result, text);
    }
    bool locked = false, released = false;
    std::chrono::steady_clock::duration longest{};

private:
    bool Exec(const char* sql) { return sqlite3_exec(other_, sql, nullptr, nullptr, nullptr) == 0; }
    sqlite3* other_ = nullptr;
    int images_ = 0;
};

TEST_F(RecorderSessionTest, ADatabaseLockedMidSessionNeitherSlowsTheFlashNorLosesAnImage) {
    for (int slot : {9, 10})  // Rsrc1 and Rsrc2 after FlashOne's Modem
        VARKO_SetImage(
            slot,
            WriteFile(dir_.File("r.rc" + std::to_string(slot)), Pattern(0x3000, slot)).c_str(),
            "20000");
    {
        LockedMidSession recorder(Options(), database_);
        ASSERT_TRUE(FlashOne(recorder));
        ASSERT_TRUE(recorder.locked && recorder.released);
        // No image's call waits out the lock: far below one try of SQLite's 5 s.
        EXPECT_LT(recorder.longest, std::chrono::seconds(2));
    }
    const auto found = ReadAll(database_);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].result, "completed");
    ASSERT_EQ(found[0].images.size(), 3u);
    EXPECT_EQ(found[0].images[2].slot, "Rsrc2");
    EXPECT_EQ(messages_.All(), "");
}

// The records command reads a database where the folder takes no new file
// (a read-only disk) or the disk is full (no file may grow), and says what
// the system said when it cannot read at all.
TEST(RecordsReaderTest, ReadsFromAReadOnlyOrFullDiskAndSaysWhyNot) {
    TempDir dir;
    const std::string database = dir.File("Kelvane_records.db");
    {
        records::LocalStore store;
        std::string error;
        ASSERT_TRUE(store.Open(database, true, &error)) << error;
        records::ChannelRecord r;
        r.id = "kept";
        ASSERT_TRUE(store.Insert(r, false, &error)) << error;
    }
    // The folder belongs to the user the child becomes, the file does not.
    unsigned uid = ::geteuid(), gid = ::getegid();
    ASSERT_TRUE(uid != 0 || NobodyIds(&uid, &gid));
    ASSERT_EQ(::chown(dir.path().c_str(), uid, gid), 0);
    struct Case {
        const char* what;
        mode_t folderMode, fileMode;
        bool full;           // no file may grow
        const char* reason;  // "" when the record is read
    } const cases[] = {
        {"read-only folder", 0555, 0644, false, ""},
        {"full disk", 0755, 0644, true, ""},
        {"unreadable file", 0755, 0200, false,
         ": unable to open database file (Permission denied)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(::chmod(dir.path().c_str(), c.folderMode), 0);
        ASSERT_EQ(::chmod(database.c_str(), c.fileMode), 0);
        std::string error;
        const int status = RunAsUnprivileged(
            [&] {
                if (c.full) {
                    const struct rlimit none {};  // every write past a file's end fails
                    ::signal(SIGXFSZ, SIG_IGN);
                    if (::setrlimit(RLIMIT_FSIZE, &none) != 0) return 9;
                }
                records::LocalStore store;
                std::vector<records::ChannelRecord> found;
                std::string reason;
                if (store.Open(database, false, &reason) && store.Query({}, &found, &reason))
                    return found.size() == 1 && found[0].id == "kept" ? 0 : 1;
                return reason == database + c.reason ? 2 : 3;
            },
            &error);
        EXPECT_EQ(status, c.reason[0] == '\0' ? 0 : 2) << error;
    }
}

}  // namespace
