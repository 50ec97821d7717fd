#include "sim/simulator.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "platform/ini.h"
#include "platform/port_map.h"

namespace sim {
namespace {

// Marks a key that is not in the file.
constexpr const char* kMissing = "\x01missing";

// Removes the port map when it holds nothing but its empty section.
void RemoveIfEmpty(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string header = std::string("[") + platform::kPortMapSection + "]";
    if (text == header + "\n" || text == header + "\r\n") ::unlink(file.c_str());
}

}  // namespace

bool ValidateOptions(const SimOptions& options, std::string* error) {
    if (options.channels < 1 || options.channels > kMaxHandsets) {
        *error = "--channels must be 1 to 8";
    } else if (options.firstPort < 1 || options.firstPort > 255 - options.channels + 1) {
        *error = "--first-port must be 1 to " + std::to_string(256 - options.channels);
    } else if (options.baud > kMaxBaud) {
        *error = "--baud must be at most " + std::to_string(kMaxBaud);
    } else if (options.flashSize < 1 || options.flashSize > kMaxFlashSize) {
        *error = "--flash-size must be 1 to " + std::to_string(kMaxFlashSize);
    } else {
        for (const FaultRule& rule : options.faults) {
            if (rule.handset >= options.channels) {
                *error = "fault for handset " + std::to_string(rule.handset) + " but only " +
                         std::to_string(options.channels) + " handset(s)";
                return false;
            }
        }
        return true;
    }
    return false;
}

Simulator::Simulator(SimOptions options) : options_(std::move(options)) {}

Simulator::~Simulator() {
    Stop();
}

std::string Simulator::PortMapFile() const {
    const std::string dir = options_.dir.empty() ? "." : options_.dir;
    return dir + "/" + platform::kPortMapFileName;
}

std::string Simulator::OutDir() const {
    if (!options_.outDir.empty()) return options_.outDir;
    return options_.dir.empty() ? "." : options_.dir;
}

HandsetConfig Simulator::ConfigFor(int k) const {
    HandsetConfig config;
    config.index = k;
    config.eraseMsPer4k = options_.eraseMsPer4k;
    config.flashSize = options_.flashSize;
    config.outDir = OutDir();
    config.targetInfo = DefaultTargetInfo(k);
    config.verbose = options_.verbose;
    config.log = options_.log;
    for (const FaultRule& rule : options_.faults) {
        if (rule.handset < 0 || rule.handset == k) config.faults.push_back(rule.fault);
    }
    return config;
}

bool Simulator::Start(std::string* error) {
    if (running_) return true;
    if (!ValidateOptions(options_, error)) return false;
    handsets_.clear();
    ports_.clear();
    for (int k = 0; k < options_.channels; ++k) {
        handsets_.push_back(std::make_unique<sim::Handset>(ConfigFor(k), options_.baud));
        if (!handsets_.back()->Start(error)) {
            handsets_.clear();
            return false;
        }
        ports_.push_back({k, options_.firstPort + k, handsets_.back()->Device(),
                          kPortNamePrefix + std::to_string(k)});
    }
    if (options_.pinPorts && !PinPorts(error)) {
        UnpinPorts();
        handsets_.clear();
        ports_.clear();
        return false;
    }
    running_ = true;
    return true;
}

void Simulator::Stop() {
    if (!running_) return;
    running_ = false;
    for (auto& handset : handsets_)
        handset->Stop();
    if (options_.dumpOnExit) {
        for (auto& handset : handsets_)
            handset->WriteDump();
    }
    UnpinPorts();
}

bool Simulator::PinPorts(std::string* error) {
    struct stat info {};
    createdPortMap_ = ::stat(PortMapFile().c_str(), &info) != 0;
    for (const PortInfo& port : ports_) {
        const std::string n = std::to_string(port.comNumber);
        if (!PinKey("COM" + n, port.device, error) || !PinKey("NAME" + n, port.name, error)) {
            return false;
        }
    }
    return true;
}

bool Simulator::PinKey(const std::string& key, const std::string& value, std::string* error) {
    const std::string file = PortMapFile();
    char previous[1024];
    platform::IniReadString(platform::kPortMapSection, key.c_str(), kMissing, previous,
                                      sizeof previous, file.c_str());
    Pin pin{key, std::string(previous) != kMissing, previous};
    if (!platform::IniWriteString(platform::kPortMapSection, key.c_str(), value.c_str(),
                                             file.c_str())) {
        *error = "cannot write the port map " + file;
        return false;
    }
    pins_.push_back(pin);
    return true;
}

void Simulator::UnpinPorts() {
    const std::string file = PortMapFile();
    for (auto it = pins_.rbegin(); it != pins_.rend(); ++it) {
        platform::IniWriteString(platform::kPortMapSection, it->key.c_str(),
                                            it->existed ? it->previous.c_str() : nullptr,
                                            file.c_str());
    }
    pins_.clear();
    if (createdPortMap_) RemoveIfEmpty(file);
    createdPortMap_ = false;
}

}  // namespace sim
