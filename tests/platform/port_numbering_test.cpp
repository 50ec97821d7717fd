// COM numbers for found serial devices: stable per physical location, lowest
// free number first, pinned entries untouched.
#include "platform/port_numbering.h"

#include <gtest/gtest.h>

#include "platform/ini.h"
#include "platform/port_map.h"
#include "platform/serial_ports.h"
#include "tests/support/pty_peer.h"

namespace {

using platform::DetectedDevice;
using testing_support::TempDir;

class FakeEnumerator : public platform::DeviceEnumerator {
public:
    std::vector<DetectedDevice> devices;
    std::vector<DetectedDevice> Enumerate() override { return devices; }
};

std::string MapValue(const std::string& file, const std::string& key) {
    char value[256];
    platform::IniReadString("PORTS", key.c_str(), "", value, sizeof value, file.c_str());
    return value;
}

TEST(PortNumberingTest, NumbersFollowThePhysicalLocation) {
    TempDir dir;
    platform::PortMap_SetDirectory(dir.path());
    const std::string map = platform::PortMap_File();
    // The simulator pinned COM1 and COM2 with names; COM4 is pinned by hand.
    platform::IniWriteString("PORTS", "COM1", "/dev/pts/3", map.c_str());
    platform::IniWriteString("PORTS", "NAME1", "kvmodem-sim0", map.c_str());
    platform::IniWriteString("PORTS", "COM2", "/dev/pts/4", map.c_str());
    platform::IniWriteString("PORTS", "NAME2", "kvmodem-sim1", map.c_str());
    platform::IniWriteString("PORTS", "COM4", "/dev/ttyUSB9", map.c_str());

    const DetectedDevice a{"/dev/ttyACM0", "pci-0000:00:14.0-usb-0:1:1.0",
                           "Phone kvmodem-dl (cdc_acm)"};
    const DetectedDevice b{"/dev/ttyACM1", "pci-0000:00:14.0-usb-0:2:1.0",
                           "Phone kvmodem-dl (cdc_acm)"};
    platform::PortNumbering numbering(map);
    EXPECT_EQ(numbering.NumberFor(a), 3);
    EXPECT_EQ(numbering.NumberFor(b), 5);  // 4 is pinned
    EXPECT_EQ(numbering.NumberFor(a), 3);
    EXPECT_EQ(platform::PortMap_DevicePath(3), "/dev/ttyACM0");

    // Unplugged and plugged into the same socket, it comes back as another node.
    const DetectedDevice aAgain{"/dev/ttyACM2", a.location, a.name};
    EXPECT_EQ(numbering.NumberFor(aAgain), 3);
    EXPECT_EQ(platform::PortMap_DevicePath(3), "/dev/ttyACM2");

    // After a restart the file alone tells the numbers.
    platform::PortNumbering fresh(map);
    EXPECT_EQ(fresh.RecordedNumber(b.location), 5);
    EXPECT_EQ(fresh.NumberFor(b), 5);

    // Pinned entries are never renumbered or repointed.
    EXPECT_EQ(MapValue(map, "COM4"), "/dev/ttyUSB9");
    EXPECT_EQ(MapValue(map, "COM1"), "/dev/pts/3");
    // On-board UARTs keep their fallback number and record nothing.
    EXPECT_EQ(numbering.NumberFor(DetectedDevice{"/dev/ttyS0", "platform-serial8250", "8250"}), 1);
    EXPECT_EQ(numbering.NumberFor(DetectedDevice{"/dev/ttyS12", "platform-serial8250", "8250"}),
              13);
    EXPECT_EQ(MapValue(map, "USB13"), "");
    // Without a location there is nothing to keep a number by.
    EXPECT_EQ(numbering.NumberFor(DetectedDevice{"/dev/ttyX", "", "odd"}), 0);

    FakeEnumerator enumerator;
    enumerator.devices = {b, aAgain};
    const auto ports = platform::ListSerialPorts(enumerator, numbering);
    ASSERT_EQ(ports.size(), 4u);
    EXPECT_EQ(ports[0].name, "kvmodem-sim0");
    EXPECT_EQ(ports[1].comNumber, 2);
    EXPECT_EQ(ports[2].comNumber, 5);
    EXPECT_EQ(ports[3].comNumber, 3);
    EXPECT_EQ(ports[3].devicePath, "/dev/ttyACM2");
}

TEST(PortNumberingTest, ANewUsbPortNeverTakesAnOnBoardUartsNumber) {
    TempDir dir;
    platform::PortMap_SetDirectory(dir.path());
    const std::string map = platform::PortMap_File();
    FakeEnumerator enumerator;
    enumerator.devices = {{"/dev/ttyS0", "platform-serial8250", "8250"},
                          {"/dev/ttyS1", "platform-serial8250", "8250"},
                          {"/dev/ttyACM0", "pci-0000:00:14.0-usb-0:1:1.0", "kvmodem-dl"}};
    platform::PortNumbering numbering(map);
    const auto ports = platform::ListSerialPorts(enumerator, numbering);
    ASSERT_EQ(ports.size(), 3u);
    EXPECT_EQ(ports[0].comNumber, 1);
    EXPECT_EQ(ports[1].comNumber, 2);
    EXPECT_EQ(ports[2].comNumber, 3);
    EXPECT_EQ(platform::PortMap_DevicePath(1), "/dev/ttyS0");
    EXPECT_EQ(platform::PortMap_DevicePath(3), "/dev/ttyACM0");
}

TEST(PortNumberingTest, ANumberThePortMapGivesAwayIsNotListedTwice) {
    TempDir dir;
    platform::PortMap_SetDirectory(dir.path());
    const std::string map = platform::PortMap_File();
    const DetectedDevice usb{"/dev/ttyACM0", "pci-0000:00:14.0-usb-0:1:1.0", "kvmodem-dl"};
    platform::PortNumbering numbering(map);
    ASSERT_EQ(numbering.NumberFor(usb), 1);  // recorded as USB1 before the simulator came
    // The simulator pins COM1 and COM3 with names, COM5 is pinned by hand.
    for (const auto& [key, value] :
         std::vector<std::pair<std::string, std::string>>{{"COM1", "/dev/pts/3"},
                                                          {"NAME1", "kvmodem-sim0"},
                                                          {"COM3", "/dev/pts/4"},
                                                          {"NAME3", "kvmodem-sim1"},
                                                          {"COM5", "/dev/ttyUSB9"}}) {
        platform::IniWriteString("PORTS", key.c_str(), value.c_str(), map.c_str());
    }
    FakeEnumerator enumerator;
    enumerator.devices = {{"/dev/ttyS0", "platform-serial8250", "8250"},
                          {"/dev/ttyS1", "platform-serial8250", "8250"},
                          {"/dev/ttyS2", "platform-serial8250", "8250"},
                          {"/dev/ttyS4", "platform-serial8250", "8250"},
                          usb};
    std::vector<std::string> listed;
    for (const auto& port : platform::ListSerialPorts(enumerator, numbering))
        listed.push_back(std::to_string(port.comNumber) + " " + port.devicePath);
    EXPECT_EQ(listed, (std::vector<std::string>{"1 /dev/pts/3", "3 /dev/pts/4", "0 /dev/ttyS0",
                                                "2 /dev/ttyS1", "0 /dev/ttyS2", "0 /dev/ttyS4",
                                                "0 /dev/ttyACM0"}));
    EXPECT_EQ(MapValue(map, "COM1"), "/dev/pts/3");  // the simulator's entry stays as it is
}

TEST(PortNumberingTest, TheSystemsOwnListAndEventsWorkHere) {
    TempDir dir;
    platform::PortMap_SetDirectory(dir.path());
    auto source = platform::MakeSystemSerialPortSource();
    for (const auto& port : source->List()) {
        EXPECT_GT(port.comNumber, 0);
        EXPECT_FALSE(port.devicePath.empty());
    }
    // Started and destroyed at once: the destructor ends the watch without
    // waiting for an event that may never come.
    auto events = platform::MakeSystemPortEventSource();
    events->Start([](const platform::PortEvent&) {});
    events.reset();
}

}  // namespace

namespace {

TEST(PortNumberingTest, HandsetPortsCarryTheMarkerAndMore) {
    EXPECT_TRUE(platform::IsHandsetPortName("kvmodem-sim0"));
    EXPECT_TRUE(platform::IsHandsetPortName("Phone kvmodem-dl (cdc_acm)"));
    EXPECT_TRUE(platform::IsHandsetPortName("kvmodemX"));
    EXPECT_FALSE(platform::IsHandsetPortName("kvmodem"));
    EXPECT_FALSE(platform::IsHandsetPortName("usb kvmodem"));
    EXPECT_FALSE(platform::IsHandsetPortName("KVMODEM1"));
    EXPECT_FALSE(platform::IsHandsetPortName(""));

    // The search both front ends make: handset ports in list order, none
    // without a number to open it by.
    const std::vector<platform::SerialPortInfo> listed = {{"kvmodem-b", 5, "/dev/b"},
                                                          {"usb serial", 1, "/dev/s"},
                                                          {"kvmodem-x", 0, "/dev/x"},
                                                          {"kvmodem-a", 3, "/dev/a"},
                                                          {"kvmodem", 4, "/dev/k"}};
    std::vector<std::string> found;
    for (const platform::SerialPortInfo& port : platform::HandsetPorts(listed))
        found.push_back(port.name + "@" + std::to_string(port.comNumber) + port.devicePath);
    EXPECT_EQ(found, (std::vector<std::string>{"kvmodem-b@5/dev/b", "kvmodem-a@3/dev/a"}));
}

}  // namespace
