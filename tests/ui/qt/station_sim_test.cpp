// Station mode in the Qt window against simulated handsets that come and go
// (kelvane-sim's swap, in the same process): several handsets per channel,
// one of them faulty, every good one flashed byte for byte.
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <fstream>
#include <iterator>

#include "sim/faults.h"
#include "sim/simulator.h"
#include "tests/ui/qt/dialog_fixture.h"

namespace uitest {
namespace {

constexpr int kChannels = 3;
constexpr int kHandsetsPerChannel = 2;
constexpr int kWaitMs = 60000;

size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

class UiStationSimTest : public DialogTest {
protected:
    void TearDown() override {
        DialogTest::TearDown();
        sim_.reset();
    }
    void StartLine(const std::string& fault) {
        sim::SimOptions options;
        options.channels = kChannels;
        options.dir = dir_.path();
        options.swap = true;
        options.swapMs = 300;
        options.handsets = kHandsetsPerChannel;
        sim::FaultRule rule;
        std::string error;
        ASSERT_TRUE(sim::ParseFault(fault, &rule, &error)) << error;
        options.faults.push_back(rule);
        sim_ = std::make_unique<sim::Simulator>(options);
        ASSERT_TRUE(sim_->Start(&error)) << error;
    }
    // The handset's dump: the image file as written (its trailer too), the
    // rest of its erased range 0xFF.
    void ExpectFlashed(int k, int number) {
        const std::string serial = sim::HandsetSerial(k, number);
        std::ifstream in(File(serial + ".bin"), std::ios::binary);
        const std::vector<uint8_t> dump{std::istreambuf_iterator<char>(in), {}};
        ASSERT_GE(dump.size(), modem_.size()) << serial;
        EXPECT_TRUE(std::equal(modem_.begin(), modem_.end(), dump.begin())) << serial;
        EXPECT_TRUE(std::all_of(dump.begin() + static_cast<long>(modem_.size()), dump.end(),
                                [](uint8_t b) { return b == 0xFF; }))
            << serial;
    }
    QString CountsText() const {
        return Find<QLabel>(QStringLiteral("m_stationCountsText"))->text();
    }

    std::unique_ptr<sim::Simulator> sim_;
    std::vector<uint8_t> modem_;
};

TEST_F(UiStationSimTest, EveryHandsetIsFlashedOnceAndTheFaultyOneFailsAlone) {
    StartLine("ch1:h2:mute-unlock");
    MakeImage(File("modem.bin"), 0x1a0000, 64 * 1024 + 123, "MDM", "bin", 7);
    modem_ = ReadBytes(File("modem.bin"));
    WriteSettingsFile({{"AUTODETECT", "1"}, {"DELAY", "0"}});
    WriteImageSetFile({{"CODECHECK", "1"}, {"CODEFILE", File("modem.bin")}});
    systemPorts_ = true;
    int questions = 0;
    ask_ = [&questions](const std::string&, bool withCancel) {
        ++questions;
        return withCancel ? ui::DialogView::Answer::kYes : ui::DialogView::Answer::kNo;
    };
    MakeDialog();
    for (int ch = 0; ch < kChannels; ++ch)
        ASSERT_EQ(dialog_->ChannelPort(ch), ch + 1) << "the search found the handsets' ports";

    Find<QCheckBox>(QStringLiteral("m_stationCheck"))->click();
    ASSERT_TRUE(dialog_->Core().StationRunning());
    EXPECT_FALSE(Find<QPushButton>(QStringLiteral("m_loadButton"))->isEnabled());
    EXPECT_FALSE(Find<QPushButton>(QStringLiteral("m_portSearchButton"))->isEnabled());
    EXPECT_FALSE(DownloadEnabled());

    // Every handset has come and gone, and every slot saw its last one go
    // and waits again (the slots' own waits are bounded by the poll; this one
    // by kWaitMs).
    const auto allGone = [this] {
        for (int k = 0; k < kChannels; ++k) {
            if (sim_->Handset(k).CurrentPresence().departures < kHandsetsPerChannel) return false;
            if (ProgressText(k) != QStringLiteral("Waiting")) return false;
        }
        return Count(dialog_->StatusLog(), " PASSED ") + Count(dialog_->StatusLog(), " FAILED ") ==
               kChannels * kHandsetsPerChannel;
    };
    QTRY_VERIFY_WITH_TIMEOUT(allGone(), kWaitMs);
    const std::string& log = dialog_->StatusLog();
    EXPECT_EQ(Count(log, " PASSED "), 5u) << log;
    EXPECT_EQ(Count(log, "CH1 COM2 "), 2u) << log;
    EXPECT_NE(log.find("FAILED \"ERR: Unlock"), std::string::npos) << log;
    EXPECT_TRUE(
        CountsText().startsWith(QStringLiteral("Station: passed 5, failed 1, yield 83.3 %")))
        << CountsText().toStdString();
    EXPECT_TRUE(prompt_.Texts().empty()) << prompt_.Texts().front();  // no message box
    for (int k = 0; k < kChannels; ++k) {
        for (int number = 1; number <= kHandsetsPerChannel; ++number) {
            if (k == 1 && number == 2) {
                EXPECT_FALSE(std::filesystem::exists(File(sim::HandsetSerial(k, number) + ".bin")));
            } else {
                ExpectFlashed(k, number);
            }
        }
    }

    // The close asks once; Yes lets the (no) flashes in progress end.
    dialog_->reject();
    EXPECT_EQ(questions, 1);
    EXPECT_FALSE(dialog_->Core().StationRunning());
    EXPECT_EQ(ProgressText(0), QStringLiteral("Ready..."));
}

}  // namespace
}  // namespace uitest
