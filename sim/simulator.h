// kelvane-sim: up to eight simulated handsets, each on its own pseudo-terminal
// pinned in the port map as COM<n> with the name kvmodem-sim<k>.
//
// In-process use (tests):
//   sim::SimOptions options;
//   options.channels = 2;
//   options.dir = folder;            // the port map goes to folder/Kelvane_ports.ini
//   options.firstPort = 3;           // handset 0 is COM3, handset 1 is COM4
//   sim::Simulator simulator(options);
//   std::string error;
//   if (!simulator.Start(&error)) ...
//   ... host talks to COM3 / COM4 ...
//   simulator.Handset(0).WaitUntil([](const sim::HandsetStats& s) { return s.gos == 1; }, 5s);
//   simulator.Handset(0).ReadFlash(address, length, &bytes);
//   simulator.Stop();                // or the destructor
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/faults.h"
#include "sim/handset.h"
#include "sim/handset_core.h"

namespace sim {

inline constexpr int kMaxHandsets = 8;
inline constexpr const char* kPortNamePrefix = "kvmodem-sim";

// A handset that arrived on or left a channel (with swap only).
struct ChannelEvent {
    bool arrived = false;
    int handset = 0;  // the channel k
    int comNumber = 0;
    std::string link;    // what the port map names: <dir>/kvmodem-sim<k>.tty
    std::string name;    // kvmodem-sim<k>
    int number = 0;      // the handset's number on its channel, from 1
    std::string serial;  // SIM<k>-<number>, four digits at least
    std::string device;  // its pseudo-terminal's slave path
};

struct SimOptions {
    int channels = 1;           // handsets, 1..8
    std::string dir;            // folder of the port map; "" is the current folder
    int firstPort = 1;          // COM number of handset 0
    std::string outDir;         // folder of the dumps; "" is dir
    uint32_t baud = 0;          // line rate; 0 is unpaced
    uint32_t eraseMsPer4k = 0;  // erase time per 4 KiB
    uint64_t flashSize = kDefaultFlashSize;
    bool dumpOnExit = false;  // write every handset's dump when stopping
    bool pinPorts = true;     // write the port map entries
    bool verbose = false;     // log every packet
    std::vector<FaultRule> faults;
    LogFunction log;  // may be empty; called from the handset threads
    // Handsets come and go: each leaves after its go (see Handset) and after
    // swapMs the next arrives on the same COM number, behind the same link.
    bool swap = false;
    uint32_t swapMs = 1000;
    uint32_t leaveMs = 0;  // a flashed handset stays this long after its go
    int handsets = 0;      // with swap, handsets per channel in all; 0: no end
    // Every arrival and departure with swap, the first arrivals in channel
    // order before any other; one at a time, from Start and the handset threads.
    std::function<void(const ChannelEvent&)> onEvent;
};

inline constexpr int kMaxHandsetsPerChannel = 1000000;

// The serial of the number-th handset on channel k: "SIM<k>-0001".
std::string HandsetSerial(int k, int number);

struct PortInfo {
    int handset = 0;
    int comNumber = 0;
    std::string device;  // the slave path, e.g. /dev/pts/7
    std::string name;    // kvmodem-sim<k>
    std::string serial;  // with swap, the first handset's
};

// Checks the options; false with a one-line reason when they cannot work.
bool ValidateOptions(const SimOptions& options, std::string* error);

class Simulator {
public:
    explicit Simulator(SimOptions options);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Opens the pseudo-terminals, pins them in the port map and starts
    // serving. On failure nothing is left behind.
    bool Start(std::string* error);
    // Stops every handset, writes the dumps when asked to and takes the port
    // map entries out again (an entry that stood there before comes back; a
    // port map file this simulator created goes when nothing else is in it).
    void Stop();

    int Count() const { return static_cast<int>(handsets_.size()); }
    const std::vector<PortInfo>& Ports() const { return ports_; }
    sim::Handset& Handset(int k) { return *handsets_.at(static_cast<size_t>(k)); }
    const sim::Handset& Handset(int k) const { return *handsets_.at(static_cast<size_t>(k)); }
    HandsetStats Stats(int k) const { return Handset(k).Stats(); }
    std::string PortMapFile() const;
    std::string OutDir() const;
    // With swap, the symbolic link pinned as channel k's COM<n>.
    std::string LinkPath(int k) const;

private:
    struct Pin {
        std::string key;
        bool existed = false;
        std::string previous;
    };

    HandsetConfig ConfigFor(int k, int number) const;
    bool StartHandsets(std::string* error);
    void Tell(const ChannelEvent& event);
    ChannelEvent EventFor(int k, const SwapEvent& event) const;
    bool PinPorts(std::string* error);
    bool PinKey(const std::string& key, const std::string& value, std::string* error);
    void UnpinPorts();

    SimOptions options_;
    std::vector<std::unique_ptr<sim::Handset>> handsets_;
    std::vector<PortInfo> ports_;
    std::vector<Pin> pins_;
    bool createdPortMap_ = false;  // the port map file did not exist before
    bool running_ = false;
    std::mutex eventMutex_;  // one event at a time, the first ones first
};

}  // namespace sim
