#include "sim/simulator.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
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

// Checks the handset number prefixes against the handsets a channel gets.
bool ValidateNumbers(const SimOptions& options, const FaultRule& rule, std::string* error) {
    const uint64_t n = std::max(rule.number, rule.every);
    const uint64_t count = options.swap ? static_cast<uint64_t>(options.handsets) : 1;
    if (n <= 1 || count == 0 || n <= count) return true;
    *error = "fault for handset number " + std::to_string(n) + " but only " +
             std::to_string(count) + " handset(s) per channel" +
             (options.swap ? "" : " (without --swap)");
    return false;
}

}  // namespace

std::string HandsetSerial(int k, int number) {
    char serial[32];
    std::snprintf(serial, sizeof serial, "SIM%d-%04d", k, number);
    return serial;
}

bool ValidateOptions(const SimOptions& options, std::string* error) {
    if (options.channels < 1 || options.channels > kMaxHandsets) {
        *error = "--channels must be 1 to 8";
    } else if (options.firstPort < 1 || options.firstPort > 255 - options.channels + 1) {
        *error = "--first-port must be 1 to " + std::to_string(256 - options.channels);
    } else if (options.baud > kMaxBaud) {
        *error = "--baud must be at most " + std::to_string(kMaxBaud);
    } else if (options.flashSize < 1 || options.flashSize > kMaxFlashSize) {
        *error = "--flash-size must be 1 to " + std::to_string(kMaxFlashSize);
    } else if (options.handsets < 0 || options.handsets > kMaxHandsetsPerChannel ||
               (!options.swap && options.handsets > 1)) {
        *error = options.swap ? "--handsets must be 0 to " + std::to_string(kMaxHandsetsPerChannel)
                              : "--handsets needs --swap";
    } else {
        for (const FaultRule& rule : options.faults) {
            if (rule.handset >= options.channels) {
                *error = "fault for handset " + std::to_string(rule.handset) + " but only " +
                         std::to_string(options.channels) + " handset(s)";
                return false;
            }
            if (!ValidateNumbers(options, rule, error)) return false;
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

std::string Simulator::LinkPath(int k) const {
    std::error_code ec;
    const std::filesystem::path dir =
        std::filesystem::absolute(options_.dir.empty() ? "." : options_.dir, ec);
    return (dir / (kPortNamePrefix + std::to_string(k) + ".tty")).lexically_normal().string();
}

HandsetConfig Simulator::ConfigFor(int k, int number) const {
    HandsetConfig config;
    config.index = k;
    if (options_.swap) config.serial = HandsetSerial(k, number);
    config.eraseMsPer4k = options_.eraseMsPer4k;
    config.flashSize = options_.flashSize;
    config.outDir = OutDir();
    config.targetInfo = options_.swap ? DefaultTargetInfo(k, config.serial) : DefaultTargetInfo(k);
    config.verbose = options_.verbose;
    config.log = options_.log;
    for (const FaultRule& rule : options_.faults) {
        if (AppliesTo(rule, k, static_cast<uint64_t>(number))) config.faults.push_back(rule.fault);
    }
    return config;
}

bool Simulator::StartHandsets(std::string* error) {
    for (int k = 0; k < options_.channels; ++k) {
        PortInfo port{k, options_.firstPort + k, "", kPortNamePrefix + std::to_string(k), ""};
        if (options_.swap) {
            SwapPlan plan;
            plan.configFor = [this, k](int number) { return ConfigFor(k, number); };
            plan.count = options_.handsets;
            plan.pause = std::chrono::milliseconds(options_.swapMs);
            plan.stay = std::chrono::milliseconds(options_.leaveMs);
            plan.link = LinkPath(k);
            plan.onEvent = [this, k](const SwapEvent& event) { Tell(EventFor(k, event)); };
            handsets_.push_back(std::make_unique<sim::Handset>(std::move(plan), options_.baud));
            port.serial = HandsetSerial(k, 1);
        } else {
            handsets_.push_back(std::make_unique<sim::Handset>(ConfigFor(k, 1), options_.baud));
        }
        if (!handsets_.back()->Start(error)) return false;
        port.device = options_.swap ? LinkPath(k) : handsets_.back()->Device();
        ports_.push_back(port);
    }
    return true;
}

bool Simulator::Start(std::string* error) {
    if (running_) return true;
    if (!ValidateOptions(options_, error)) return false;
    handsets_.clear();
    ports_.clear();
    // Held until the first arrivals are told: a handset thread's event waits.
    std::unique_lock<std::mutex> lock(eventMutex_);
    if (!StartHandsets(error) || (options_.pinPorts && !PinPorts(error))) {
        lock.unlock();
        UnpinPorts();
        handsets_.clear();
        ports_.clear();
        return false;
    }
    running_ = true;
    for (int k = 0; options_.swap && options_.onEvent && k < Count(); ++k) {
        SwapEvent first{true, 1, HandsetSerial(k, 1), handsets_[static_cast<size_t>(k)]->Device()};
        options_.onEvent(EventFor(k, first));
    }
    return true;
}

ChannelEvent Simulator::EventFor(int k, const SwapEvent& event) const {
    return {event.arrived,
            k,
            options_.firstPort + k,
            LinkPath(k),
            kPortNamePrefix + std::to_string(k),
            event.number,
            event.serial,
            event.device};
}

void Simulator::Tell(const ChannelEvent& event) {
    std::lock_guard<std::mutex> lock(eventMutex_);
    if (options_.onEvent) options_.onEvent(event);
}

void Simulator::Stop() {
    if (!running_) return;
    running_ = false;
    for (auto& handset : handsets_)
        handset->Stop();
    if (options_.dumpOnExit) {
        for (auto& handset : handsets_) {
            if (handset->CurrentPresence().present) handset->WriteDump();
        }
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
                                 it->existed ? it->previous.c_str() : nullptr, file.c_str());
    }
    pins_.clear();
    if (createdPortMap_) RemoveIfEmpty(file);
    createdPortMap_ = false;
}

}  // namespace sim
