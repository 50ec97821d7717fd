// Records forwarded to a real PostgreSQL server that this test starts: they
// arrive; with the server stopped in the middle of a session they wait on
// the station and arrive once, and only once, after it is back.
#include <gtest/gtest.h>

#include <mutex>
#include <set>

#include "engine/observer.h"
#include "engine/session.h"
#include "link/serial.h"
#include "platform/notify.h"
#include "records/forwarder.h"
#include "records/recorder.h"
#include "records/server_link.h"
#include "tests/records/pg_cluster.h"
#include "tests/records/records_test_util.h"

namespace {

using namespace records_test;
using testing_support::TempDir;
using testing_support::WaitFor;

class SilentPrompt : public platform::OperatorPrompt {
public:
    void ShowText(const char*) override {}
    bool AskYesNo(const char*) override { return false; }
};

class RecordsServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_nWriteDelay = 0;
        platform::SetOperatorPrompt(&prompt_);
        VARKO_ClearImages();
        std::string error;
        // A server that cannot be started fails the test: it never passes
        // without one.
        ASSERT_TRUE(server_.Create(&error)) << error;
        handsets_ = StartHandsets(dir_.path(), 2, {}, &error);
        ASSERT_NE(handsets_, nullptr) << error;
        ASSERT_EQ(
            VARKO_SetImage(8, WriteFile(dir_.File("m.bin"), Pattern(0x9000, 4)).c_str(), "20000"),
            8);
    }
    void TearDown() override {
        engine::SetSessionObserver(nullptr);
        platform::SetOperatorPrompt(nullptr);
        g_nWriteDelay = 2;
    }
    records::RecorderOptions Options() {
        records::RecorderOptions options;
        options.databasePath = database_;
        options.station = "line-1/station-3";
        options.serverUrl = server_.url();
        options.messages = [this](const std::string& text) { told_ += text + "\n"; };
        return options;
    }
    std::string Value(const std::string& sql) {
        std::string error;
        const std::string value = server_.Value(sql, &error);
        EXPECT_EQ(error, "") << sql;
        return value;
    }
    static records::Clock::time_point Deadline() {
        return records::Clock::now() + std::chrono::seconds(20);
    }
    int64_t Pending() {
        records::LocalStore store;
        std::string error;
        EXPECT_TRUE(store.Open(database_, true, &error)) << error;
        return store.PendingCount();
    }

    TempDir dir_;
    std::string database_ = dir_.File("Kelvane_records.db");
    SilentPrompt prompt_;
    PgCluster server_;
    std::unique_ptr<sim::Simulator> handsets_;
    std::string told_;
    const std::atomic<bool> stop_{false};
};

TEST_F(RecordsServerTest, RecordsArriveAndWaitOutAStoppedServer) {
    records::ScopedRecorder scoped(Options());
    records::Recorder& recorder = scoped.recorder();
    ASSERT_TRUE(recorder.forwarding());
    EXPECT_EQ(told_, "");

    StoppingReceiver first;
    RunSession(&first, 2);
    ASSERT_TRUE(WaitFor(
        [&] {
            return Value("SELECT count(*) FROM kelvane_records WHERE result = 'completed'") == "2";
        },
        std::chrono::seconds(30)));
    EXPECT_EQ(Value("SELECT string_agg(DISTINCT station, ',') FROM kelvane_records"),
              "line-1/station-3");
    EXPECT_EQ(Value("SELECT count(*) FROM kelvane_records WHERE jsonb_array_length(images) = 1 "
                    "AND images->0->>'slot' = 'Modem' AND images->0->>'address' = '20000' AND "
                    "(images->0->>'size')::int = 36864"),
              "2");

    // The server goes away once the second session's data is on its way.
    std::string error;
    bool stopped = false;
    StoppingReceiver second;
    second.onFirstProgress = [&] { stopped = server_.StopServer(&error); };
    RunSession(&second, 2);
    ASSERT_TRUE(stopped) << error;
    for (int ch = 0; ch < 2; ++ch) {
        bool completed = false;
        for (const auto& e : second.Entries())
            completed |= e.channel == ch && e.text.find("All file Complete!") != std::string::npos;
        EXPECT_TRUE(completed) << "the flash of channel " << ch << " did not go on";
    }
    EXPECT_GT(Pending(), 0);  // kept on the station

    ASSERT_TRUE(server_.StartServer(&error)) << error;
    ASSERT_TRUE(WaitFor([&] { return Pending() == 0; }, std::chrono::seconds(30)));
    const auto local = ReadAll(database_);
    ASSERT_EQ(local.size(), 4u);
    EXPECT_EQ(Value("SELECT count(*) FROM kelvane_records"), "4");
    for (const records::ChannelRecord& r : local) {
        SCOPED_TRACE(r.id);
        EXPECT_EQ(r.result, "completed");
        // The server holds each record once, in its last state.
        EXPECT_EQ(Value("SELECT count(*) FROM kelvane_records WHERE id = '" + r.id + "'"), "1");
        EXPECT_EQ(Value("SELECT result || ' ' || revision || ' ' || jsonb_array_length(images) || "
                        "' ' || last_text FROM kelvane_records WHERE id = '" +
                        r.id + "'"),
                  "completed " + std::to_string(r.revision) + " 1 " + r.lastText);
        EXPECT_EQ(Value("SELECT channel_end = '" + r.channelEnd +
                        "'::timestamptz FROM kelvane_records WHERE id = '" + r.id + "'"),
                  "t");
    }
}

// The server restarted while the connection idled: the change that finds the
// connection gone goes over a fresh one at once, also in the end's drain.
TEST_F(RecordsServerTest, AChangeAfterAServerRestartGoesOverAFreshConnection) {
    std::string error;
    records::LocalStore store;
    ASSERT_TRUE(store.Open(database_, true, &error)) << error;
    records::Forwarder forwarder(database_, server_.url());
    ASSERT_TRUE(forwarder.Start(20000, &error)) << error;
    ASSERT_TRUE(server_.StopServer(&error)) << error;
    ASSERT_TRUE(server_.StartServer(&error)) << error;
    records::ChannelRecord r;
    r.id = "after-restart";
    r.sessionStart = r.channelStart = "2026-12-08T09:00:00.000Z";
    ASSERT_TRUE(store.Insert(r, true, &error)) << error;
    forwarder.Stop(20000);  // no wake before: the drain meets the dead connection
    EXPECT_EQ(Value("SELECT count(*) FROM kelvane_records WHERE id = 'after-restart'"), "1");
    EXPECT_EQ(Pending(), 0);
}

// A table an older Kelvane made gains the station columns; its rows read as
// a session's.
TEST_F(RecordsServerTest, AnOlderTableGainsTheStationColumns) {
    records::ServerLink link;
    std::string error;
    ASSERT_TRUE(link.Connect(server_.url(), Deadline(), stop_, &error)) << error;
    Value(
        "ALTER TABLE kelvane_records DROP COLUMN mode, DROP COLUMN attempt; INSERT INTO"
        " kelvane_records VALUES('old', 's', now(), now(), NULL, 0, 1, '', '', '', '', '[]',"
        " 'completed', '', '2.9', 1)");
    ASSERT_TRUE(link.Connect(server_.url(), Deadline(), stop_, &error)) << error;
    records::ChannelRecord r;
    r.id = "new";
    r.sessionStart = r.channelStart = records::UtcNow();
    r.mode = records::kStationMode;
    r.attempt = 2;
    r.revision = 1;
    ASSERT_TRUE(link.Upsert(r, Deadline(), stop_, &error)) << error;
    EXPECT_EQ(Value("SELECT string_agg(id || ' ' || mode || ' ' || attempt, ',' ORDER BY id)"
                    " FROM kelvane_records"),
              "new station 2,old session 0");
}

TEST_F(RecordsServerTest, AServerThatAnswersNothingHoldsNoFlashAndLosesNoRecord) {
    std::string error;
    {
        records::ScopedRecorder scoped(Options());
        ASSERT_TRUE(scoped.recorder().forwarding());
        EXPECT_EQ(told_, "");
        ASSERT_TRUE(server_.Freeze(true, &error)) << error;
        StoppingReceiver receiver;
        RunSession(&receiver, 2);
        for (int ch = 0; ch < 2; ++ch) {
            bool completed = false;
            for (const auto& e : receiver.Entries())
                completed |=
                    e.channel == ch && e.text.find("All file Complete!") != std::string::npos;
            EXPECT_TRUE(completed) << "channel " << ch;
        }
        // Ending the recorder gives up on the server within its bounds.
    }
    EXPECT_EQ(Pending(), 6);  // start, image and end of both channels
    ASSERT_TRUE(server_.Freeze(false, &error)) << error;

    // The next start of Kelvane sends what waited.
    records::ScopedRecorder again(Options());
    ASSERT_TRUE(WaitFor([&] { return Pending() == 0; }, std::chrono::seconds(30)));
    const auto local = ReadAll(database_);
    ASSERT_EQ(local.size(), 2u);
    EXPECT_EQ(Value("SELECT count(*) FROM kelvane_records"), "2");
    for (const records::ChannelRecord& r : local) {
        EXPECT_EQ(Value("SELECT result || ' ' || revision FROM kelvane_records WHERE id = '" +
                        r.id + "'"),
                  "completed " + std::to_string(r.revision));
    }
}

TEST_F(RecordsServerTest, TheServersNoticesGoToTheTraceNeverToTheOutput) {
    records::ServerLink link;
    std::string error;
    ASSERT_TRUE(link.Connect(server_.url(), Deadline(), stop_, &error)) << error;  // the table
    // The line's own trigger that tells of every record it sees, and a
    // setting of the role the server cannot apply: a warning at every
    // connection, before any query.
    Value(
        "CREATE FUNCTION audit() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN RAISE NOTICE"
        " 'audit %', NEW.id; RETURN NEW; END $$; CREATE TRIGGER audit BEFORE INSERT ON"
        " kelvane_records FOR EACH ROW EXECUTE FUNCTION audit(); ALTER ROLE kelvane SET"
        " default_text_search_config = 'pg_catalog.none'");
    testing_support::TraceCapture traces;
    testing::internal::CaptureStderr();
    records::ChannelRecord r;
    r.id = "r1";
    r.sessionStart = r.channelStart = "2026-12-08T09:00:00.000Z";
    const bool sent = link.Connect(server_.url(), Deadline(), stop_, &error) &&
                      link.Upsert(r, Deadline(), stop_, &error);
    const std::string output = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(sent) << error;
    EXPECT_EQ(output, "");
    EXPECT_TRUE(
        traces.Contains("records server: WARNING:  invalid value for parameter "
                        "\"default_text_search_config\""));
    EXPECT_TRUE(traces.Contains("records server: NOTICE:  audit r1\n"));
}

TEST_F(RecordsServerTest, ARefusedRecordHoldsNoOtherBackAndIsToldOnce) {
    records::ServerLink link;  // the table, and a rule of the line's own
    std::string error;
    ASSERT_TRUE(link.Connect(server_.url(), Deadline(), stop_, &error)) << error;
    Value("ALTER TABLE kelvane_records ADD CONSTRAINT known CHECK (station <> 'unknown')");
    records::LocalStore store;
    ASSERT_TRUE(store.Open(database_, true, &error)) << error;
    for (const char* id : {"refused", "a", "b"}) {  // the refused one first
        records::ChannelRecord r;
        r.id = id;
        r.station = r.id == "refused" ? "unknown" : "bench-1";
        r.sessionStart = r.channelStart = records::UtcNow();
        ASSERT_TRUE(store.Insert(r, true, &error)) << error;
    }
    std::mutex mutex;
    std::vector<std::string> told;
    records::Forwarder forwarder(database_, server_.url(), [&](const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex);
        told.push_back(text);
    });
    ASSERT_TRUE(forwarder.Start(10000, &error)) << error;
    const auto count = [&](const std::string& where) {
        return Value("SELECT count(*) FROM kelvane_records WHERE " + where);
    };
    EXPECT_TRUE(
        WaitFor([&] { return count("id IN ('a', 'b')") == "2"; }, std::chrono::seconds(30)));
    // Tried again, after a pause, and told once.
    records::WaitingSummary waiting;
    EXPECT_TRUE(WaitFor(
        [&] {
            return store.Waiting(&waiting, &error) && waiting.refusals.size() == 1 &&
                   waiting.refusals[0].attempts >= 2;
        },
        std::chrono::seconds(30)));
    EXPECT_EQ(waiting.records, 1);
    {
        std::lock_guard<std::mutex> lock(mutex);
        EXPECT_EQ(told, std::vector<std::string>{
                            "records: the records server refuses record refused (new row for "
                            "relation \"kelvane_records\" violates check constraint \"known\"): "
                            "it is kept on this station and sent again later (kelvane-cli records "
                            "shows what waits)"});
    }
    // The line mends its rule: the record arrives and waits no more.
    Value("ALTER TABLE kelvane_records DROP CONSTRAINT known");
    EXPECT_TRUE(WaitFor([&] { return count("id = 'refused'") == "1"; }, std::chrono::seconds(30)));
    EXPECT_TRUE(WaitFor([&] { return store.Waiting(&waiting, &error) && waiting.records == 0; }));
    EXPECT_TRUE(waiting.refusals.empty());
    forwarder.Stop(0);
}

}  // namespace
