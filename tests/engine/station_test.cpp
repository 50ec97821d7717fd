// Station slots against simulated handsets that come and go: what each
// handset's flash holds, which handsets fail, and what a slot does after.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <utility>

#include "engine/session.h"
#include "engine/station.h"
#include "platform/notify.h"
#include "tests/sim/host_harness.h"
#include "tests/sim/test_frames.h"

namespace {

using engine::SlotEvent;
using engine::SlotReport;

// Keeps the handsets' results and counts message boxes; waits (bounded) for
// a number of results.
class Reports : public engine::StationListener, public platform::OperatorPrompt {
public:
    void OnSlot(const SlotReport& r) override {
        if (r.event == SlotEvent::kStarted) ++starts;
        if (r.event != SlotEvent::kPassed && r.event != SlotEvent::kFailed) return;
        std::lock_guard<std::mutex> lock(mutex_);
        results_.push_back(r);
        changed_.notify_all();
    }
    void ShowText(const char*) override { ++boxes; }
    bool AskYesNo(const char*) override { return false; }
    bool WaitResults(size_t n) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(60),
                                 [&] { return results_.size() >= n; });
    }
    std::vector<SlotReport> Take() {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::exchange(results_, {});
    }
    std::atomic<int> boxes{0};
    std::atomic<int> starts{0};  // tries started, on every channel

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<SlotReport> results_;
};

class StationTest : public simtest::SimFixture {
protected:
    void SetUp() override {
        platform::SetOperatorPrompt(&reports_);
        image_ = simtest::Pattern(40000, 7);
        const std::string path = dir_.path() + "/modem.bin";
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(image_.data()), image_.size());
        VARKO_ClearImages();
        ASSERT_EQ(VARKO_SetImage(8, path.c_str(), "100000"), 8);
    }
    void TearDown() override { platform::SetOperatorPrompt(nullptr); }

    // Runs a station on COM1..COMn until `count` handsets were flashed; their
    // results, and per channel "P" (passed) or "F" (failed) in order.
    std::vector<SlotReport> RunStation(int channels, size_t count, int retries = 0) {
        engine::StationOptions options;
        for (int ch = 0; ch < channels; ++ch)
            options.comPorts.push_back(ch + 1);
        options.writeDelayMs = 0;
        options.retries = retries;
        options.pollMs = 20;
        engine::Station station(options, &reports_);
        EXPECT_TRUE(station.Start());
        EXPECT_TRUE(reports_.WaitResults(count));
        station.Finish();
        EXPECT_TRUE(station.WaitEnded(30000));
        station.Join();
        EXPECT_EQ(station.Passed() + station.Failed(), static_cast<int>(count));
        std::vector<SlotReport> results = reports_.Take();
        outcomes_.assign(channels, "");
        for (const SlotReport& r : results)
            outcomes_[r.channel] += r.event == SlotEvent::kPassed ? "P" : "F";
        return results;
    }

    // Once it left, the handset's dump holds the image, the rest of its
    // erased range 0xFF.
    void ExpectFlashed(int ch, int number) {
        const std::string serial = sim::HandsetSerial(ch, number);
        ASSERT_TRUE(sim_->Handset(ch).WaitForPresence(
            [&](const sim::Presence& p) { return p.departures >= number; },
            std::chrono::seconds(10)))
            << serial;
        const std::string file = dir_.path() + "/" + serial + ".bin";
        std::ifstream in(file, std::ios::binary);
        const std::vector<uint8_t> dump{std::istreambuf_iterator<char>(in), {}};
        std::filesystem::remove(file);  // the next case's handset of that serial writes its own
        ASSERT_GE(dump.size(), image_.size()) << serial;
        EXPECT_TRUE(std::equal(image_.begin(), image_.end(), dump.begin())) << serial;
        EXPECT_EQ(std::count(dump.begin() + image_.size(), dump.end(), 0xFF),
                  static_cast<long>(dump.size() - image_.size()));
    }

    Reports reports_;
    std::vector<uint8_t> image_;
    std::vector<std::string> outcomes_;
};

// A faulty handset fails alone, every other flash is byte-exact, and a
// handset pulled in the middle of its flash fails without touching the next.
TEST_F(StationTest, EachHandsetIsFlashedOnceAndAFaultFailsOnlyItsHandset) {
    struct Case {
        const char* fault;
        int failingChannel, failingNumber;
        const char* failText;
    } const cases[] = {
        {"ch1:h2:mute-unlock", 1, 2, "ERR: Unlock"},
        {"ch2:h1:hangup=9000", 2, 1, "CH2 ERR:"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        StartSim(3, 1, {c.fault}, 0, 3, 200);
        for (const SlotReport& r : RunStation(3, 9))
            EXPECT_TRUE(r.event == SlotEvent::kPassed || r.text.rfind(c.failText, 0) == 0)
                << r.text;
        for (int ch = 0; ch < 3; ++ch) {
            std::string expected = "PPP";
            if (ch == c.failingChannel) expected[c.failingNumber - 1] = 'F';
            EXPECT_EQ(outcomes_[ch], expected) << "CH" << ch;
            for (int number = 1; number <= 3; ++number) {
                if (ch != c.failingChannel || number != c.failingNumber) ExpectFlashed(ch, number);
            }
        }
        EXPECT_EQ(reports_.boxes, 0);  // results are the slots', never boxes
        sim_->Stop();
    }
}

// A handset pulled in the middle of its flash has left, even when the next
// one is already there under the same device name (its pseudo-terminal
// takes the freed number, as a USB port's node comes back): that one is
// flashed, not taken for the failed one that stays.
TEST_F(StationTest, TheHandsetAfterOnePulledMidFlashIsFlashedUnderTheSameName) {
    StartSim(1, 1, {"ch0:h1:hangup=9000"}, 0, 2, 20);
    RunStation(1, 2);
    EXPECT_EQ(outcomes_[0], "FP");
    ExpectFlashed(0, 2);
}

// A handset that failed stays failed while its port stays: it is tried again
// only for the retries asked for, and the slot flashes the next one once it came.
TEST_F(StationTest, AFailedHandsetIsRetriedOnlyAsAskedAndNeverAgainWhileItStays) {
    for (const int retries : {0, 2}) {
        SCOPED_TRACE(retries);
        // The muted handset stays 1.5 s after each close: many of the slot's
        // 20 ms looks at its port.
        StartSim(1, 1, {"ch0:h1:mute-unlock"}, 0, 2, 1500);
        EXPECT_EQ(RunStation(1, 2, retries).at(0).attempt, retries);
        EXPECT_EQ(outcomes_[0], "FP");
        const std::vector<sim::HandsetStats> gone = sim_->Handset(0).Departed();
        ASSERT_FALSE(gone.empty());
        // The faulty handset's tries, and the good one's: each try reaches
        // the handset (one may probe more than once, when a late reply of
        // the try before comes in).
        EXPECT_EQ(reports_.starts.exchange(0), retries + 2);
        EXPECT_GE(gone[0].unlocks, static_cast<uint64_t>(retries + 1));
        ExpectFlashed(0, 2);
        sim_->Stop();
    }
}

}  // namespace
