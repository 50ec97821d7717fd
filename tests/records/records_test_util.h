// Shared by the records tests: a simulated station (handsets, images, one
// session at a time) and a way to run a piece of a test as an unprivileged
// user.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "records/local_store.h"
#include "sim/simulator.h"
#include "tests/support/pty_peer.h"

namespace records_test {

using Bytes = std::vector<uint8_t>;

Bytes Pattern(size_t size, uint8_t seed);
std::string WriteFile(const std::string& path, const Bytes& bytes);
std::string Hex(uint32_t value);

// Stops a channel from the worker's own notification once it has sent bytes.
class StoppingReceiver : public testing_support::RecordingReceiver {
public:
    std::atomic<int> stopAfterProgress{-1};
    intptr_t Send(unsigned message, uintptr_t code, const void* payload) override;
    std::function<void()> onFirstProgress;  // runs once, on a worker thread

private:
    std::atomic<bool> progressSeen_{false};
};

// Handsets in folder, pinned as COM1..COMn, at baud (0: unpaced).
std::unique_ptr<sim::Simulator> StartHandsets(const std::string& folder, int count,
                                              const std::vector<std::string>& faults,
                                              std::string* error, uint32_t baud = 0);

// One session on COM1..COMn.
void RunSession(platform::NotifyReceiver* receiver, int channels);

// Every record of the database, newest first (the test fails when it cannot
// be read).
std::vector<records::ChannelRecord> ReadAll(const std::string& path);

// Runs body in a child process, as user "nobody" when this runs as root;
// the child's exit status (-1 when it did not end normally).
int RunAsUnprivileged(const std::function<int()>& body, std::string* error);

// The uid and gid of "nobody"; false when the system has none.
bool NobodyIds(unsigned* uid, unsigned* gid);

}  // namespace records_test
