#include "tests/records/records_test_util.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "engine/session.h"
#include "link/notify.h"
#include "platform/port_map.h"

namespace records_test {

Bytes Pattern(size_t size, uint8_t seed) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(i * 31 + seed + (i >> 10));
    return bytes;
}

std::string WriteFile(const std::string& path, const Bytes& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return path;
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return path;
}

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", value);
    return text;
}

intptr_t StoppingReceiver::Send(unsigned message, uintptr_t code, const void* payload) {
    const auto* e = static_cast<const ImageEntry*>(payload);
    if (code == NOTIFY_PROGRESS && e->bytesSent > 0) {
        int channel = e->channel;
        if (stopAfterProgress.compare_exchange_strong(channel, -1)) VARKO_StopChannel(e->channel);
        if (onFirstProgress && !progressSeen_.exchange(true)) onFirstProgress();
    }
    return RecordingReceiver::Send(message, code, payload);
}

std::unique_ptr<sim::Simulator> StartHandsets(const std::string& folder, int count,
                                              const std::vector<std::string>& faults,
                                              std::string* error, uint32_t baud) {
    sim::SimOptions options;
    options.channels = count;
    options.baud = baud;
    options.dir = folder;
    options.firstPort = 1;
    for (const std::string& text : faults) {
        sim::FaultRule rule;
        if (!sim::ParseFault(text, &rule, error)) return nullptr;
        options.faults.push_back(rule);
    }
    auto simulator = std::make_unique<sim::Simulator>(options);
    if (!simulator->Start(error)) return nullptr;
    platform::PortMap_SetDirectory(folder);
    return simulator;
}

void RunSession(platform::NotifyReceiver* receiver, int channels) {
    int ports[kChannelCount] = {};
    for (int ch = 0; ch < channels; ++ch)
        ports[ch] = ch + 1;
    VARKO_StartSession(receiver, NotifyMessage, ports, 1382400, 0);
    VARKO_RunSession(1);
    VARKO_StopSession();
}

std::vector<records::ChannelRecord> ReadAll(const std::string& path) {
    records::LocalStore store;
    std::vector<records::ChannelRecord> found;
    std::string error;
    EXPECT_TRUE(store.Open(path, false, &error) && store.Query({}, &found, &error)) << error;
    return found;
}

bool NobodyIds(unsigned* uid, unsigned* gid) {
    const struct passwd* entry = ::getpwnam("nobody");
    if (entry == nullptr) return false;
    *uid = entry->pw_uid;
    *gid = entry->pw_gid;
    return true;
}

int RunAsUnprivileged(const std::function<int()>& body, std::string* error) {
    unsigned uid = 0, gid = 0;
    if (::geteuid() == 0 && !NobodyIds(&uid, &gid)) {
        *error = "no user nobody to drop to";
        return -1;
    }
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0) {
        *error = "fork failed";
        return -1;
    }
    if (child == 0) {
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)) {
            ::_exit(100);
        }
        const int status = body();
        std::fflush(nullptr);
        ::_exit(status);
    }
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            *error = "the child did not end within 120 s";
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace records_test
