// kelvane-cli keeps a record of every channel it flashes, even when it is
// killed in the middle, and 'kelvane-cli records' reads them back.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "records/local_store.h"
#include "sim/simulator.h"
#include "tests/cli/cli_run.h"
#include "tests/records/records_test_util.h"
#include "tests/support/pty_peer.h"

namespace {

using Cli = clitest::CliRun;
using testing_support::TempDir;

size_t RecordCount(const std::string& database) {
    records::LocalStore store;
    std::vector<records::ChannelRecord> found;
    std::string error;
    if (!store.Open(database, false, &error) || !store.Query({}, &found, &error)) return 0;
    return found.size();
}

TEST(CliRecordsTest, AKilledRunLeavesInterruptedRecordsThatTheRecordsCommandShows) {
    TempDir dir;
    sim::SimOptions options;
    options.channels = 2;
    options.dir = dir.path();
    options.baud = 115200;  // slow enough to be killed in the middle
    sim::Simulator handsets(options);
    std::string error;
    ASSERT_TRUE(handsets.Start(&error)) << error;
    const std::string big = dir.File("big.bin");
    const std::string small = dir.File("small.bin");
    ASSERT_EQ(Cli({"make-image", big, "--size", "2M", "--address", "20000"}).Wait(), 0);
    ASSERT_EQ(Cli({"make-image", small, "--size", "2K", "--address", "20000"}).Wait(), 0);
    const std::string database = dir.File("Kelvane_records.db");
    {
        Cli killed({"download", "--port", "1,2", "--image", "Modem=" + big, "--dir", dir.path(),
                    "--baud", "115200", "--delay", "0"});
        ASSERT_TRUE(killed.WaitForOutput("Erase Flash")) << killed.output();
        ASSERT_TRUE(testing_support::WaitFor([&] { return RecordCount(database) == 2; }));
        killed.Kill();  // no chance to write anything more
    }
    Cli json({"records", "--dir", dir.path(), "--format", "json"});
    ASSERT_EQ(json.Wait(), 0) << json.output();
    ASSERT_EQ(json.Lines().size(), 2u) << json.output();
    for (const std::string& line : json.Lines()) {
        EXPECT_EQ(line.front(), '{');
        EXPECT_EQ(line.back(), '}');
        EXPECT_NE(line.find("\"result\":\"interrupted\""), std::string::npos) << line;
        EXPECT_NE(line.find("\"channel_end\":null"), std::string::npos) << line;
        EXPECT_NE(line.find("\"images\":[]"), std::string::npos) << line;
    }

    // The handsets may still be busy with the killed image: a fresh pair.
    handsets.Stop();
    sim::Simulator fresh(options);
    ASSERT_TRUE(fresh.Start(&error)) << error;
    Cli ok({"download", "--port", "2", "--image", "Modem=" + small, "--dir", dir.path(), "--baud",
            "115200", "--delay", "0"});
    ASSERT_EQ(ok.Wait(), 0) << ok.output();

    Cli table({"records", "--dir", dir.path()});
    ASSERT_EQ(table.Wait(), 0) << table.output();
    ASSERT_EQ(table.Lines().size(), 4u) << table.output();
    EXPECT_EQ(table.Lines()[0].rfind("CHANNEL START (UTC)", 0), 0u);
    EXPECT_NE(table.Lines()[1].find("completed"), std::string::npos) << table.output();
    EXPECT_NE(table.Lines()[1].find("CH0 All file Complete!"), std::string::npos);
    EXPECT_NE(table.Lines()[2].find("interrupted"), std::string::npos);

    Cli failed({"records", "--dir", dir.path(), "--failed", "--format", "csv"});
    ASSERT_EQ(failed.Wait(), 0);
    ASSERT_EQ(failed.Lines().size(), 3u) << failed.output();
    EXPECT_EQ(failed.Lines()[0].rfind("id,station,session_start,", 0), 0u);
    Cli channel1({"records", "--dir", dir.path(), "--channel", "1", "--format", "json"});
    ASSERT_EQ(channel1.Wait(), 0);
    ASSERT_EQ(channel1.Lines().size(), 1u) << channel1.output();
    EXPECT_NE(channel1.Lines()[0].find("\"channel\":1,\"com_port\":2"), std::string::npos);
    Cli none({"records", "--dir", dir.path(), "--since", "2000-01-01", "--until", "2000-01-02"});
    ASSERT_EQ(none.Wait(), 0);
    EXPECT_EQ(none.Lines().size(), 1u) << none.output();  // the header alone

    Cli badChannel({"records", "--channel", "8"});
    EXPECT_EQ(badChannel.Wait(), 2);
    EXPECT_EQ(badChannel.output(), "kelvane-cli records: bad value '8' for --channel (0..7)\n");
    Cli badDate({"records", "--dir", dir.path(), "--since", "2026-13-45"});  // see ReportTest
    EXPECT_EQ(badDate.Wait(), 2) << badDate.output();
    TempDir empty;
    Cli nothing({"records", "--dir", empty.path(), "--format", "json"});
    EXPECT_EQ(nothing.Wait(), 0);
    EXPECT_EQ(nothing.output(), "kelvane-cli records: no records yet (no " +
                                    empty.File("Kelvane_records.db") + ")\n");
    Cli noFolder({"records", "--dir", empty.File("gone")});
    EXPECT_EQ(noFolder.Wait(), 1);
    EXPECT_EQ(noFolder.output().rfind(
                  "kelvane-cli records: cannot read " + empty.File("gone/Kelvane_records.db"), 0),
              0u)
        << noFolder.output();
}

}  // namespace

TEST(CliRecordsTest, AHangUpStopsTheDownloadAndFinishesItsRecord) {
    TempDir dir;
    std::string error;
    const auto handsets = records_test::StartHandsets(dir.path(), 1, {}, &error, 115200);
    ASSERT_NE(handsets, nullptr) << error;  // 2 MB take minutes
    const std::string big = dir.File("big.bin");
    ASSERT_EQ(Cli({"make-image", big, "--size", "2M", "--address", "20000"}).Wait(), 0);
    Cli run({"download", "--port", "1", "--image", "Modem=" + big, "--dir", dir.path(), "--baud",
             "115200", "--delay", "0"});
    ASSERT_TRUE(testing_support::WaitFor([&] { return handsets->Stats(0).writes > 0; },
                                         std::chrono::seconds(60)));
    run.Interrupt(SIGHUP);
    EXPECT_EQ(run.Wait(), 1) << run.output();
    EXPECT_NE(run.output().find("interrupted: every channel stopped"), std::string::npos);
    Cli json({"records", "--dir", dir.path(), "--format", "json"});
    ASSERT_EQ(json.Wait(), 0) << json.output();
    ASSERT_EQ(json.Lines().size(), 1u) << json.output();
    EXPECT_NE(json.Lines()[0].find("\"images\":[{\"slot\":\"Modem\""), std::string::npos);
    EXPECT_NE(json.Lines()[0].find("\"result\":\"stopped\""), std::string::npos) << json.Lines()[0];
}

TEST(CliRecordsTest, TheTableTellsWhatWaitsForTheServerAndWhy) {
    TempDir dir;
    {
        records::LocalStore store;
        std::string error;
        ASSERT_TRUE(store.Open(dir.File("Kelvane_records.db"), true, &error)) << error;
        for (const char* id : {"a", "b"}) {
            records::ChannelRecord r;
            r.id = id;
            r.channelStart = "2026-12-08T09:00:00.000Z";
            ASSERT_TRUE(store.Insert(r, true, &error)) << error;
        }
        records::PendingChange change;
        ASSERT_TRUE(store.OldestPending(&change, &error)) << error;
        ASSERT_TRUE(
            store.Refused(change, "violates check constraint \"known\"", 60000, 60000, &error))
            << error;
    }
    Cli table({"records", "--dir", dir.path()});
    ASSERT_EQ(table.Wait(), 0) << table.output();
    ASSERT_EQ(table.Lines().size(), 5u) << table.output();
    EXPECT_EQ(table.Lines()[3], "2 records wait for the line's server");
    EXPECT_EQ(table.Lines()[4].rfind("  1 refused by it (tried once, next try 20", 0), 0u);
    EXPECT_NE(table.Lines()[4].find("): violates check constraint \"known\""), std::string::npos)
        << table.Lines()[4];
}

TEST(CliRecordsTest, AServerThatDoesNotAnswerIsToldAndTheDownloadGoesOn) {
    TempDir dir;
    sim::SimOptions options;
    options.channels = 1;
    options.dir = dir.path();
    sim::Simulator handsets(options);
    std::string error;
    ASSERT_TRUE(handsets.Start(&error)) << error;
    {
        std::ofstream ini(dir.File("Kelvane_3.ini"));
        ini << "[RECORDS]\nSTATION=bench-9\nPOSTGRESQL_URL=postgresql:///records?host=" +
                   dir.File("no-server") + "\n";
    }
    const std::string image = dir.File("m.bin");
    ASSERT_EQ(Cli({"make-image", image, "--size", "20K", "--address", "20000"}).Wait(), 0);
    Cli run({"download", "--port", "1", "--image", "Modem=" + image, "--dir", dir.path(), "--baud",
             "115200", "--delay", "0"});
    EXPECT_EQ(run.Wait(), 0) << run.output();
    EXPECT_NE(run.output().find("records: the records server does not answer ("), std::string::npos)
        << run.output();
    EXPECT_NE(run.output().find("CH0 COM1 OK"), std::string::npos);

    Cli json({"records", "--dir", dir.path(), "--format", "json"});
    ASSERT_EQ(json.Wait(), 0) << json.output();
    ASSERT_EQ(json.Lines().size(), 1u) << json.output();
    EXPECT_NE(json.Lines()[0].find("\"station\":\"bench-9\""), std::string::npos);
    EXPECT_NE(json.Lines()[0].find("\"result\":\"completed\""), std::string::npos);
    EXPECT_NE(json.Lines()[0].find("\"image_set\":\"\""), std::string::npos);  // --image
    EXPECT_NE(json.Lines()[0].find("\"slot\":\"Modem\",\"path\":\"" + image + "\",\"size\":21504"),
              std::string::npos)
        << json.Lines()[0];
}
