// Station slots against simulated handsets that come and go: what each
// handset's flash holds, which handsets fail, and what a slot does after.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>

#include "engine/session.h"
#include "engine/station.h"
#include "platform/notify.h"
#include "tests/sim/host_harness.h"
#include "tests/sim/test_frames.h"

namespace {

using engine::SlotEvent;
using engine::SlotReport;

// Keeps every report but progress; waits (bounded) for a number of results.
class Reports : public engine::StationListener, public platform::OperatorPrompt {
public:
    void OnSlot(const SlotReport& r) override {
        if (r.event == SlotEvent::kProgress) return;
        std::lock_guard<std::mutex> lock(mutex_);
        reports_.push_back(r);
        changed_.notify_all();
    }
    void ShowText(const char* text) override {
        std::lock_guard<std::mutex> lock(mutex_);
        boxes_.emplace_back(text);
    }
    bool AskYesNo(const char*) override { return false; }
    bool WaitResults(size_t n) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(60),
                                 [&] { return Results().size() >= n; });
    }
    std::vector<SlotReport> Results() const {
        std::vector<SlotReport> out;
        for (const SlotReport& r : reports_) {
            if (r.event == SlotEvent::kPassed || r.event == SlotEvent::kFailed) out.push_back(r);
        }
        return out;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        reports_.clear();
    }
    std::vector<std::string> Boxes() {
        std::lock_guard<std::mutex> lock(mutex_);
        return boxes_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<SlotReport> reports_;
    std::vector<std::string> boxes_;
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

    // Runs a station on COM1..COMn until `results` handsets were flashed.
    void RunStation(int channels, size_t results, int retries = 0) {
        engine::StationOptions options;
        for (int ch = 0; ch < channels; ++ch)
            options.comPorts.push_back(ch + 1);
        options.writeDelayMs = 0;
        options.retries = retries;
        options.pollMs = 20;
        engine::Station station(options, &reports_);
        ASSERT_TRUE(station.Start());
        EXPECT_TRUE(reports_.WaitResults(results));
        station.Finish();
        EXPECT_TRUE(station.WaitEnded(30000));
        station.Join();
        EXPECT_EQ(station.Passed() + station.Failed(), static_cast<int>(results));
    }

    // The handset's dump holds the image, the rest of its erased range 0xFF.
    void ExpectFlashed(const std::string& serial) {
        std::ifstream in(dir_.path() + "/" + serial + ".bin", std::ios::binary);
        const std::vector<uint8_t> dump{std::istreambuf_iterator<char>(in), {}};
        ASSERT_GE(dump.size(), image_.size()) << serial;
        EXPECT_TRUE(std::equal(image_.begin(), image_.end(), dump.begin())) << serial;
        EXPECT_TRUE(std::all_of(dump.begin() + image_.size(), dump.end(), [](uint8_t b) {
            return b == 0xFF;
        })) << serial;
    }

    // The results of channel ch in order: "P" passed, "F" failed.
    std::string Outcomes(int ch) {
        std::string out;
        for (const SlotReport& r : reports_.Results())
            out += r.channel == ch ? (r.event == SlotEvent::kPassed ? "P" : "F") : "";
        return out;
    }

    Reports reports_;
    std::vector<uint8_t> image_;
};

// A faulty handset fails alone, every other flash is byte-exact, and a
// handset pulled in the middle of its flash fails without touching the next.
TEST_F(StationTest, EachHandsetIsFlashedOnceAndAFaultFailsOnlyItsHandset) {
    struct Case {
        const char* fault;
        int failingChannel;
        int failingNumber;
        const char* failText;
    } const cases[] = {
        {"ch1:h2:mute-unlock", 1, 2, "ERR: Unlock"},
        {"ch2:h1:hangup=9000", 2, 1, "CH2 ERR:"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        StartSim(3, 1, {c.fault}, 0, 3, 200);
        RunStation(3, 9);
        for (int ch = 0; ch < 3; ++ch) {
            std::string expected = "PPP";
            if (ch == c.failingChannel) expected[c.failingNumber - 1] = 'F';
            EXPECT_EQ(Outcomes(ch), expected) << "CH" << ch;
            for (int number = 1; number <= 3; ++number) {
                if (ch != c.failingChannel || number != c.failingNumber)
                    ExpectFlashed(sim::HandsetSerial(ch, number));
            }
        }
        for (const SlotReport& r : reports_.Results()) {
            if (r.event == SlotEvent::kFailed) {
                EXPECT_EQ(r.text.rfind(c.failText, 0), 0u) << r.text;
            }
            EXPECT_EQ(r.comPort, r.channel + 1);
            EXPECT_FALSE(r.identity.empty());
        }
        // Results are told by the slots, never by message boxes.
        EXPECT_TRUE(reports_.Boxes().empty());
        sim_->Stop();
        reports_.Clear();
        for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
            if (entry.path().filename().string().rfind("SIM", 0) == 0)
                std::filesystem::remove(entry.path());
        }
    }
}

// A handset that failed stays failed while its port stays: it is tried again
// only for --retries, and the slot flashes the next handset once it came.
TEST_F(StationTest, AFailedHandsetIsRetriedOnlyAsAskedAndNeverAgainWhileItStays) {
    for (const int retries : {0, 2}) {
        SCOPED_TRACE(retries);
        // The muted handset stays 1.5 s after each close, many of the
        // slot's 20 ms looks at its port.
        StartSim(1, 1, {"ch0:h1:mute-unlock"}, 0, 2, 1500);
        RunStation(1, 2, retries);
        EXPECT_EQ(Outcomes(0), "FP");
        const std::vector<sim::HandsetStats> gone = sim_->Handset(0).Departed();
        ASSERT_FALSE(gone.empty());
        EXPECT_EQ(gone[0].unlocks, static_cast<uint64_t>(retries + 1));
        EXPECT_EQ(reports_.Results().at(0).attempt, retries);
        ExpectFlashed(sim::HandsetSerial(0, 2));
        sim_->Stop();
        reports_.Clear();
    }
}

}  // namespace
