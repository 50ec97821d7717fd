// The serial ports on Windows: the registry's serial-port map (value name =
// the device, data = "COM<n>"), with the device's friendly name from SetupAPI
// where the registry name alone does not tell a handset port. Arrivals and
// removals reach the window as WM_DEVICECHANGE, so this source reports none.
#include <windows.h>
// SetupAPI after windows.h.
#include <setupapi.h>

#include <algorithm>
#include <cstdlib>
#include <map>

#include "platform/port_numbering.h"
#include "platform/serial_ports.h"
#include "platform/wide_text_win32.h"

namespace platform {
namespace {

constexpr const wchar_t* kSerialCommKey = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";

// GUID_DEVINTERFACE_COMPORT.
constexpr GUID kComPortInterface = {
    0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};

// n of "COM<n>" (any case), 0 for anything else.
int ComNumber(const std::string& text) {
    if (text.size() < 4 || _strnicmp(text.c_str(), "COM", 3) != 0) return 0;
    int n = 0;
    for (size_t i = 3; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9' || n > 100000) return 0;
        n = n * 10 + (text[i] - '0');
    }
    return n;
}

// A REG_SZ value's text (size in bytes) without its terminating NULs.
std::string ValueText(const wchar_t* data, DWORD size) {
    std::wstring_view text(data, size / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0')
        text.remove_suffix(1);
    return TextFromWide(text);
}

// COM number -> friendly name of every present COM port SetupAPI knows.
std::map<int, std::string> FriendlyNames() {
    std::map<int, std::string> names;
    HDEVINFO devices = ::SetupDiGetClassDevsW(&kComPortInterface, nullptr, nullptr,
                                              DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (devices == INVALID_HANDLE_VALUE) return names;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; ::SetupDiEnumDeviceInfo(devices, i, &device); ++i) {
        HKEY key =
            ::SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE) continue;
        wchar_t portName[64] = {};
        DWORD size = sizeof portName - sizeof(wchar_t);
        DWORD type = 0;
        const bool named =
            ::RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(portName),
                               &size) == ERROR_SUCCESS &&
            type == REG_SZ;
        ::RegCloseKey(key);
        const int n = named ? ComNumber(ValueText(portName, size)) : 0;
        wchar_t friendly[256] = {};
        if (n > 0 &&
            ::SetupDiGetDeviceRegistryPropertyW(devices, &device, SPDRP_FRIENDLYNAME, nullptr,
                                                reinterpret_cast<BYTE*>(friendly),
                                                sizeof friendly - sizeof(wchar_t), nullptr)) {
            names[n] = TextFromWide(friendly);
        }
    }
    ::SetupDiDestroyDeviceInfoList(devices);
    return names;
}

class RegistryPorts : public SerialPortSource {
public:
    std::vector<SerialPortInfo> List() override {
        std::vector<SerialPortInfo> ports;
        HKEY key = nullptr;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSerialCommKey, 0, KEY_READ, &key) !=
            ERROR_SUCCESS) {
            return ports;
        }
        std::map<int, std::string> friendly;
        bool askedSetupApi = false;
        for (DWORD i = 0;; ++i) {
            wchar_t name[256] = {};
            wchar_t data[256] = {};
            DWORD nameSize = 256;                            // characters
            DWORD dataSize = sizeof data - sizeof(wchar_t);  // bytes
            DWORD type = 0;
            const LONG status = ::RegEnumValueW(key, i, name, &nameSize, nullptr, &type,
                                                reinterpret_cast<BYTE*>(data), &dataSize);
            if (status == ERROR_NO_MORE_ITEMS) break;
            if (status != ERROR_SUCCESS || type != REG_SZ) continue;
            const int n = ComNumber(ValueText(data, dataSize));
            if (n <= 0) continue;
            SerialPortInfo port{TextFromWide(std::wstring_view(name, nameSize)), n,
                                "\\\\.\\COM" + std::to_string(n)};
            if (!IsHandsetPortName(port.name)) {
                if (!askedSetupApi) friendly = FriendlyNames();
                askedSetupApi = true;
                auto found = friendly.find(n);
                if (found != friendly.end()) port.name = found->second;
            }
            ports.push_back(port);
        }
        ::RegCloseKey(key);
        std::stable_sort(ports.begin(), ports.end(),
                         [](const SerialPortInfo& a, const SerialPortInfo& b) {
                             return a.comNumber < b.comNumber;
                         });
        return ports;
    }
};

class NoDevices : public DeviceEnumerator {
public:
    std::vector<DetectedDevice> Enumerate() override { return {}; }
};

class NoEvents : public PortEventSource {
public:
    void Start(PortEventCallback) override {}
};

}  // namespace

// Windows numbers its COM ports itself: nothing for the port map to number.
std::unique_ptr<DeviceEnumerator> MakeSystemDeviceEnumerator() {
    return std::make_unique<NoDevices>();
}

std::unique_ptr<SerialPortSource> MakeSystemSerialPortSource() {
    return std::make_unique<RegistryPorts>();
}

std::unique_ptr<PortEventSource> MakeSystemPortEventSource() {
    return std::make_unique<NoEvents>();
}

}  // namespace platform
