// Test support: temporary folders, pseudo-terminal pairs pinned in the port
// map, a scripted peer that answers the host's packets, and a notification
// receiver that records what the engine sends.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/notify.h"
#include "platform/path.h"

namespace testing_support {

// A fresh folder under the system's temporary folder, removed with the object.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return platform::JoinPath(path_, name); }

private:
    std::string path_;
};

// Paths inside dir (created as needed) and elsewhere that exist but are no
// regular files and would hold a reader: a FIFO and a device on POSIX, the
// NUL device and a named pipe's name on Windows.
std::vector<std::string> NonRegularFiles(const TempDir& dir);

// A pseudo-terminal pair in raw mode; the test holds the master side.
class Pty {
public:
    Pty();
    ~Pty();
    int master() const { return master_; }
    const std::string& slavePath() const { return slavePath_; }
    void CloseMaster();  // the far end hangs up
    void Write(const std::vector<uint8_t>& bytes);

private:
    int master_ = -1;
    int slave_ = -1;  // kept open so the master never sees a hang-up
    std::string slavePath_;
};

// Writes COM<n> = path into the port map of folder and points the host at it.
void PinPort(const std::string& folder, int comNumber, const std::string& path);

// Prepares a channel the way a session start does and records its port.
void SetUpChannel(int channel, int comNumber, uint32_t baud);

// Waits until condition holds or the deadline passes; returns the condition.
bool WaitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds limit = std::chrono::milliseconds(10000));

// One decoded host packet: sequence byte and command bytes (FCS checked).
struct HostPacket {
    uint8_t seq;
    std::vector<uint8_t> command;
    bool fcsOk;
};

// Frame bytes for a reply: [seq][body...][FCS over body], stuffed and flagged.
std::vector<uint8_t> ReplyFrame(uint8_t seq, const std::vector<uint8_t>& body);
std::vector<uint8_t> Ack(uint8_t seq);
std::vector<uint8_t> Nak(uint8_t seq, uint8_t error);
// Stuffs and flags raw frame content as given (no FCS added).
std::vector<uint8_t> RawFrame(const std::vector<uint8_t>& content);

// Reads the master side on its own thread, decodes every packet and asks the
// responder what to write back (nothing, one or several frames).
class ScriptedPeer {
public:
    using Responder = std::function<std::vector<uint8_t>(const HostPacket& packet, int index)>;

    ScriptedPeer(Pty& pty, Responder responder);
    ~ScriptedPeer();
    void Stop();

    std::vector<HostPacket> Packets();
    size_t PacketCount();
    std::string Text();  // bytes seen outside frames
    bool WaitForPackets(size_t count,
                        std::chrono::milliseconds limit = std::chrono::milliseconds(10000));
    // Writes bytes to the host from the test thread.
    void Send(const std::vector<uint8_t>& bytes);

private:
    void Run();
    void Feed(uint8_t byte);

    Pty& pty_;
    Responder responder_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<HostPacket> packets_;
    std::string text_;
    std::vector<uint8_t> frame_;
    int state_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Records the engine's notifications (code and text or channel text).
class RecordingReceiver : public platform::NotifyReceiver {
public:
    struct Entry {
        int code;
        int channel;
        std::string text;
        uint32_t bytesSent;
        uint32_t size;
        int kind;
    };
    intptr_t Send(unsigned message, uintptr_t code, const void* payload) override;
    std::vector<Entry> Entries();
    std::vector<std::string> Texts(int code);

private:
    std::mutex mutex_;
    std::vector<Entry> entries_;
};

// Collects trace lines while alive.
class TraceCapture {
public:
    TraceCapture();
    ~TraceCapture();
    static std::vector<std::string> Lines();
    static bool Contains(const std::string& fragment);
};

}  // namespace testing_support
