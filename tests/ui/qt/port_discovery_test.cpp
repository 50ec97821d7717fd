// Which port each channel holds: Port Search over an injected port list,
// arrivals and removals (called directly and through the event source's
// file descriptor), the operator's choice in a combo box and the Auto box.
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QTest>

#include "config/settings.h"
#include "tests/ui/qt/dialog_fixture.h"

namespace uitest {
namespace {

class UiPortDiscoveryTest : public DialogTest {
protected:
    QComboBox* Combo(int channel) const {
        return Find<QComboBox>(QStringLiteral("m_portCombo%1").arg(channel));
    }
    QCheckBox* AutoBox() const { return Find<QCheckBox>(QStringLiteral("m_autoCheck")); }
    // The operator picks entry index in channel's combo box.
    void Choose(int channel, int index) {
        Combo(channel)->setCurrentIndex(index);
        emit Combo(channel)->activated(index);
    }
    std::vector<int> Ports() const {
        std::vector<int> ports;
        for (int ch = 0; ch < 8; ++ch)
            ports.push_back(dialog_->ChannelPort(ch));
        return ports;
    }
};

TEST_F(UiPortDiscoveryTest, NineHandsetPortsFillTheEightChannelsInListOrder) {
    portList_.push_back(Port("ttyS0 16550A", 1));  // no handset: skipped
    for (int n = 3; n <= 11; ++n)
        portList_.push_back(Port("kvmodem-sim" + std::to_string(n), n));
    MakeDialog();

    EXPECT_EQ(Ports(), (std::vector<int>{3, 4, 5, 6, 7, 8, 9, 10}));
    for (int ch = 0; ch < 8; ++ch) {
        EXPECT_EQ(ComboText(ch), QStringLiteral("COM%1").arg(ch + 3));
        EXPECT_FALSE(Combo(ch)->isEnabled()) << ch;
        EXPECT_EQ(ProgressText(ch), QStringLiteral("Ready..."));
    }
    EXPECT_EQ(StatusText(), QStringLiteral("Detect COM10 Port"));  // COM11 found no channel
    EXPECT_TRUE(DownloadEnabled());
    EXPECT_EQ(Combo(0)->toolTip(), QStringLiteral("COM3: /dev/fake3 (kvmodem-sim3)"));
}

TEST_F(UiPortDiscoveryTest, OnlyNamesWithTheMarkerAndMoreCountAndAPortGoesToOneChannel) {
    portList_ = {Port("kvmodem", 4),    Port("kvmodem-a", 5),    Port("kvmodem-b", 5),
                 Port("KVMODEM-c", 6),  Port("usb-kvmodem1", 7), Port("xkvmode", 8),
                 Port("kvmodem-bad", 0)};
    MakeDialog();
    EXPECT_EQ(Ports(), (std::vector<int>{5, 7, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(Combo(2)->isEnabled());
    EXPECT_EQ(ProgressText(2), QString());
}

TEST_F(UiPortDiscoveryTest, PortsAboveThirtyAreHeldWithoutAComboEntry) {
    portList_ = {Port("kvmodem-usb9", 31)};
    MakeDialog();
    EXPECT_EQ(dialog_->ChannelPort(0), 31);
    EXPECT_EQ(Combo(0)->currentIndex(), -1);
    EXPECT_EQ(StatusText(), QStringLiteral("Detect COM31 Port"));
    EXPECT_TRUE(Combo(0)->toolTip().startsWith(QStringLiteral("COM31: /dev/fake31")));
}

TEST_F(UiPortDiscoveryTest, PortSearchReleasesEveryChannelFirst) {
    portList_ = {Port("kvmodem-a", 5), Port("kvmodem-b", 6)};
    MakeDialog();
    ports_->ports = {Port("kvmodem-c", 9)};
    Find<QPushButton>(QStringLiteral("m_portSearchButton"))->click();
    EXPECT_EQ(Ports(), (std::vector<int>{9, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(Combo(1)->isEnabled());
    EXPECT_EQ(ComboText(1), QStringLiteral("-----------"));
    EXPECT_EQ(ProgressText(1), QString());

    // Nothing found: everything released, and Download has no channel.
    ports_->ports.clear();
    dialog_->OnPortSearch();
    EXPECT_EQ(Ports(), std::vector<int>(8, 0));
    EXPECT_FALSE(DownloadEnabled());
}

TEST_F(UiPortDiscoveryTest, ArrivalsAssignOnlyWhileAutoIsChecked) {
    MakeDialog();
    dialog_->OnDeviceChange(Arrival(12));
    EXPECT_EQ(dialog_->ChannelPort(0), 12);
    EXPECT_EQ(ProgressText(0), QStringLiteral("Ready..."));
    EXPECT_TRUE(DownloadEnabled());
    dialog_->OnDeviceChange(Arrival(12));  // the same port again: still one channel
    EXPECT_EQ(Ports(), (std::vector<int>{12, 0, 0, 0, 0, 0, 0, 0}));

    AutoBox()->click();  // off
    dialog_->OnDeviceChange(Arrival(13));
    EXPECT_EQ(StatusText(), QStringLiteral("Detect COM13 Port"));
    EXPECT_EQ(Ports(), std::vector<int>(8, 0));
    EXPECT_FALSE(DownloadEnabled());
}

TEST_F(UiPortDiscoveryTest, RemovalsReleaseTheirChannelAndAlwaysDisableDownload) {
    portList_ = {Port("kvmodem-a", 5), Port("kvmodem-b", 6)};
    MakeDialog();
    dialog_->OnDeviceChange(Removal(9));  // held by no channel
    EXPECT_EQ(StatusText(), QStringLiteral("Disconnect COM9 Port"));
    EXPECT_FALSE(DownloadEnabled());
    EXPECT_EQ(dialog_->Busy(), 0);
    EXPECT_EQ(Ports(), (std::vector<int>{5, 6, 0, 0, 0, 0, 0, 0}));

    dialog_->OnDeviceChange(Removal(5));
    EXPECT_EQ(Ports(), (std::vector<int>{0, 6, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(Combo(0)->isEnabled());
    EXPECT_EQ(ComboText(0), QStringLiteral("-----------"));
    EXPECT_EQ(ProgressText(0), QString());
    EXPECT_FALSE(Combo(1)->isEnabled());

    // A freed channel is the first to take the next arrival.
    dialog_->OnDeviceChange(Arrival(7));
    EXPECT_EQ(Ports(), (std::vector<int>{7, 6, 0, 0, 0, 0, 0, 0}));
}

TEST_F(UiPortDiscoveryTest, EventsArriveThroughTheEventSourcesDescriptor) {
    MakeDialog();
    events_->Push(Arrival(14));
    events_->Push(Arrival(15));
    EXPECT_TRUE(QTest::qWaitFor([&] { return dialog_->ChannelPort(1) == 15; }, 5000));
    EXPECT_EQ(dialog_->ChannelPort(0), 14);
    events_->Push(Removal(14));
    EXPECT_TRUE(QTest::qWaitFor([&] { return dialog_->ChannelPort(0) == 0; }, 5000));
    EXPECT_EQ(StatusText(), QStringLiteral("Disconnect COM14 Port"));
}

TEST_F(UiPortDiscoveryTest, ChoosingAPortAnotherChannelHoldsLeavesTheChannelWithout) {
    portList_ = {Port("kvmodem-a", 5)};
    MakeDialog();
    Choose(2, 5);
    EXPECT_EQ(dialog_->ChannelPort(2), 0);
    EXPECT_EQ(ComboText(2), QStringLiteral("-----------"));
    EXPECT_EQ(dialog_->ChannelPort(0), 5);

    Choose(2, 7);
    EXPECT_EQ(dialog_->ChannelPort(2), 7);
    EXPECT_TRUE(Combo(2)->toolTip().startsWith(QStringLiteral("COM7: ")));
    dialog_->OnDeviceChange(Removal(5));
    EXPECT_FALSE(DownloadEnabled());
    Choose(3, 8);
    EXPECT_TRUE(DownloadEnabled());
    Choose(3, 0);  // "-----------"
    Choose(2, 0);
    EXPECT_EQ(Ports(), std::vector<int>(8, 0));
    EXPECT_FALSE(DownloadEnabled());
}

TEST_F(UiPortDiscoveryTest, TheAutoBoxSwitchesBetweenFoundAndStoredPorts) {
    WriteSettingsFile({{"AUTODETECT", "1"}, {"CH0_PORT", "3"}, {"CH1_PORT", "4"}});
    portList_ = {Port("kvmodem-a", 9)};
    MakeDialog();
    ASSERT_EQ(dialog_->ChannelPort(0), 9);

    AutoBox()->click();  // off: the stored ports are held again
    EXPECT_EQ(dialog_->Core().CurrentSettings().AUTODETECT, 0);
    EXPECT_EQ(Ports(), (std::vector<int>{3, 4, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(ComboText(0), QStringLiteral("COM3"));
    EXPECT_EQ(ComboText(1), QStringLiteral("COM4"));
    EXPECT_TRUE(Combo(0)->isEnabled());  // the search had disabled it
    EXPECT_TRUE(DownloadEnabled());
    Choose(0, 5);
    EXPECT_EQ(dialog_->ChannelPort(0), 5);

    AutoBox()->click();  // on again: everything released
    EXPECT_EQ(dialog_->Core().CurrentSettings().AUTODETECT, 1);
    EXPECT_EQ(Ports(), std::vector<int>(8, 0));
    EXPECT_EQ(ComboText(0), QStringLiteral("-----------"));
    EXPECT_FALSE(DownloadEnabled());
}

}  // namespace
}  // namespace uitest
