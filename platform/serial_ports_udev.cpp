// Serial devices through libudev: enumeration of the tty subsystem and a
// monitor for arrivals and removals.
#include <fcntl.h>
#include <libudev.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "platform/port_map.h"
#include "platform/port_numbering.h"
#include "platform/trace.h"

namespace platform {
namespace {

std::string Text(const char* value) {
    return value != nullptr ? value : "";
}

// What the device calls itself: model, USB interface text and driver.
std::string DeviceName(udev_device* device) {
    std::string name = Text(udev_device_get_property_value(device, "ID_MODEL"));
    udev_device* interface =
        udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_interface");
    const std::string interfaceText =
        interface != nullptr ? Text(udev_device_get_sysattr_value(interface, "interface")) : "";
    if (!interfaceText.empty()) name += (name.empty() ? "" : " ") + interfaceText;
    udev_device* parent = udev_device_get_parent(device);
    const std::string driver = parent != nullptr ? Text(udev_device_get_driver(parent)) : "";
    if (!driver.empty()) name += (name.empty() ? "" : " ") + ("(" + driver + ")");
    return name.empty() ? Text(udev_device_get_sysname(device)) : name;
}

// A serial device worth listing: a tty with a parent device, and for an
// on-board UART one that is really there. A removed device has no parent
// left to look at; its event still carries its node and location.
bool Describe(udev_device* device, bool removed, DetectedDevice* out) {
    const char* node = udev_device_get_devnode(device);
    if (node == nullptr) return false;
    if (removed) {
        out->devicePath = node;
        out->location = Text(udev_device_get_property_value(device, "ID_PATH"));
        if (out->location.empty()) out->location = Text(udev_device_get_devpath(device));
        return true;
    }
    if (udev_device_get_parent(device) == nullptr) return false;
    const std::string type = Text(udev_device_get_sysattr_value(device, "type"));
    if (std::strncmp(node, "/dev/ttyS", 9) == 0 && (type.empty() || type == "0")) return false;
    out->devicePath = node;
    out->location = Text(udev_device_get_property_value(device, "ID_PATH"));
    if (out->location.empty()) out->location = Text(udev_device_get_devpath(device));
    out->name = DeviceName(device);
    return true;
}

class UdevEnumerator : public DeviceEnumerator {
public:
    std::vector<DetectedDevice> Enumerate() override {
        std::vector<DetectedDevice> devices;
        udev* context = udev_new();
        if (context == nullptr) return devices;
        udev_enumerate* enumerate = udev_enumerate_new(context);
        udev_enumerate_add_match_subsystem(enumerate, "tty");
        udev_enumerate_scan_devices(enumerate);
        udev_list_entry* entry = nullptr;
        udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate)) {
            udev_device* device =
                udev_device_new_from_syspath(context, udev_list_entry_get_name(entry));
            DetectedDevice detected;
            if (device != nullptr && Describe(device, false, &detected)) {
                devices.push_back(detected);
            }
            if (device != nullptr) udev_device_unref(device);
        }
        udev_enumerate_unref(enumerate);
        udev_unref(context);
        return devices;
    }
};

class SystemPortSource : public SerialPortSource {
public:
    std::vector<SerialPortInfo> List() override {
        UdevEnumerator enumerator;
        PortNumbering numbering(PortMap_File());
        return ListSerialPorts(enumerator, numbering);
    }
};

// Arrivals and removals from udev's monitor; numbers a new device first.
class UdevEvents : public PortEventSource {
public:
    UdevEvents() {
        context_ = udev_new();
        if (context_ == nullptr) return;
        monitor_ = udev_monitor_new_from_netlink(context_, "udev");
        if (monitor_ == nullptr) return;
        udev_monitor_filter_add_match_subsystem_devtype(monitor_, "tty", nullptr);
        if (udev_monitor_enable_receiving(monitor_) != 0 ||
            ::pipe2(wake_, O_NONBLOCK | O_CLOEXEC) != 0) {
            TRACE("udev monitor unavailable: no port events\n");
            udev_monitor_unref(monitor_);
            monitor_ = nullptr;
        }
    }
    ~UdevEvents() override {
        if (thread_.joinable()) {
            const char stop = 1;
            while (::write(wake_[1], &stop, 1) < 0 && errno == EINTR) {
            }
            thread_.join();
        }
        for (int fd : wake_) {
            if (fd >= 0) ::close(fd);
        }
        if (monitor_ != nullptr) udev_monitor_unref(monitor_);
        if (context_ != nullptr) udev_unref(context_);
    }
    void Start(PortEventCallback callback) override {
        if (monitor_ == nullptr || thread_.joinable()) return;
        callback_ = std::move(callback);
        thread_ = std::thread([this] { Watch(); });
    }

private:
    // Waits for the monitor or the stop byte; every wait is bounded by the
    // stop byte the destructor writes.
    void Watch() {
        pollfd fds[2] = {{udev_monitor_get_fd(monitor_), POLLIN, 0}, {wake_[0], POLLIN, 0}};
        for (;;) {
            const int ready = ::poll(fds, 2, -1);
            if (ready < 0 && errno == EINTR) continue;
            if (ready < 0 || fds[1].revents != 0) return;
            while (udev_device* device = udev_monitor_receive_device(monitor_)) {
                PortEvent event;
                if (Convert(device, &event)) callback_(event);
                udev_device_unref(device);
            }
        }
    }

    bool Convert(udev_device* device, PortEvent* event) {
        const std::string action = Text(udev_device_get_action(device));
        DetectedDevice detected;
        const bool removed = action == "remove";
        if ((action != "add" && !removed) || !Describe(device, removed, &detected)) return false;
        PortNumbering numbering(PortMap_File());
        if (!removed && numbering.HeldByAnother(detected, PortMap_NamedPorts())) return false;
        if (!removed) numbering.ReserveOnBoard(UdevEnumerator().Enumerate());
        const int n =
            removed ? numbering.RecordedNumber(detected.location) : numbering.NumberFor(detected);
        if (n <= 0) return false;
        event->kind = action == "add" ? PortEvent::Kind::kArrival : PortEvent::Kind::kRemoval;
        event->port = SerialPortInfo{detected.name, n, detected.devicePath};
        return true;
    }

    udev* context_ = nullptr;
    udev_monitor* monitor_ = nullptr;
    int wake_[2] = {-1, -1};
    PortEventCallback callback_;
    std::thread thread_;
};

}  // namespace

std::unique_ptr<DeviceEnumerator> MakeSystemDeviceEnumerator() {
    return std::make_unique<UdevEnumerator>();
}

std::unique_ptr<SerialPortSource> MakeSystemSerialPortSource() {
    return std::make_unique<SystemPortSource>();
}

std::unique_ptr<PortEventSource> MakeSystemPortEventSource() {
    return std::make_unique<UdevEvents>();
}

}  // namespace platform
