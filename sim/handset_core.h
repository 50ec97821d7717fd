// One handset's resident downloader without its line: takes the bytes that
// arrived, answers every packet with ACK or NAK, keeps the flash model and
// counts what it saw. Not thread-safe; the owner serialises access.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "sim/deframer.h"
#include "sim/faults.h"
#include "sim/flash_model.h"
#include "sim/protocol.h"

namespace sim {

inline constexpr uint64_t kDefaultFlashSize = 64ull << 20;
inline constexpr uint64_t kMaxFlashSize = 1ull << 31;

using LogFunction = std::function<void(const std::string& line)>;

struct HandsetConfig {
    int index = 0;                           // handset number k (dumps are ch<k>.bin/.idx)
    std::string serial;                      // with --swap: dumps are <serial>.bin/.idx
    uint32_t eraseMsPer4k = 0;               // erase time per 4 KiB
    uint64_t flashSize = kDefaultFlashSize;  // addresses at or above are refused
    std::string outDir;                      // where go writes the dump; "" writes none
    std::vector<Fault> faults;
    std::array<uint8_t, kTargetInfoBytes> targetInfo{};  // sent by the info fault
    bool verbose = false;                                // log every packet, not only the rare ones
    LogFunction log;                                     // may be empty
};

// Target information naming handset k: "kvmodem-sim<k>", zero padded, with k
// in the last byte.
std::array<uint8_t, kTargetInfoBytes> DefaultTargetInfo(int index);
// The same with the handset's serial from byte 32 on, zero padded.
std::array<uint8_t, kTargetInfoBytes> DefaultTargetInfo(int index, const std::string& serial);
inline constexpr size_t kTargetInfoSerialAt = 32;

struct HandsetStats {
    uint64_t bytesReceived = 0;  // bytes that arrived on the line
    uint64_t bytesSent = 0;      // bytes of replies written to the line
    uint64_t packets = 0;        // packets with a good FCS
    uint64_t dataPackets = 0;    // erase and write packets with a good FCS, resends not counted
    // Packets by command (erases and writes answered by a NAK fault not counted).
    uint64_t unlocks = 0, erases = 0, writes = 0, closes = 0, gos = 0;
    uint64_t acks = 0, naks = 0;  // replies made with these codes (a delayed one counts at once)
    uint64_t resendRequests = 0;  // NAKs with error 1 sent
    uint64_t resends = 0;         // packets that came again after a NAK with error 1 (not
                                  // counted as data packets)
    uint64_t atLines = 0, startLines = 0;
    // What was rejected.
    uint64_t garbageBytes = 0;  // between frames, not part of a known text line
    uint64_t oversizeFrames = 0, abortedFrames = 0, runtFrames = 0, badSeqFrames = 0;
    uint64_t badFcsFrames = 0;
    uint64_t lockedRejects = 0, lengthRejects = 0, unknownCommands = 0;
    uint64_t unerasedWrites = 0;  // writes refused: part of their range was never erased
    uint64_t faultsFired = 0;
    uint64_t dumpsWritten = 0;
    uint64_t dumpFailures = 0;
    bool hungUp = false;

    uint64_t RejectedFrames() const {
        return oversizeFrames + abortedFrames + runtFrames + badSeqFrames + badFcsFrames;
    }
};

// What the line has to do after a byte.
struct Outcome {
    std::vector<uint8_t> reply;  // stuffed frame to send; empty when none
    uint32_t delayMs = 0;        // the handset works this long before replying
    bool hangUp = false;         // the line goes dead now

    bool Acts() const { return hangUp || !reply.empty(); }
};

class HandsetCore {
public:
    explicit HandsetCore(HandsetConfig config);

    // Takes bytes that arrived, up to and including the first one that gives
    // the line something to do (out->Acts()); returns how many it took. After
    // a hang-up every byte is taken and ignored.
    size_t Feed(const uint8_t* data, size_t count, Outcome* out);
    void CountSent(size_t bytes) { stats_.bytesSent += bytes; }

    HandsetStats Stats() const;
    const FlashModel& Flash() const { return flash_; }
    // Writes the dump now (used at exit); false when it failed.
    bool WriteDumpNow();
    // True once after a go: the dump is due. The line writes it when the go's
    // reply has left, so a slow disk never delays the answer.
    // True from a good go until the next unlock.
    bool ImageComplete() const { return imageComplete_; }
    bool TakeDumpDue() {
        const bool due = dumpDue_;
        dumpDue_ = false;
        return due;
    }

private:
    struct Reply {
        std::vector<uint8_t> payload;  // unstuffed; empty: no reply
        uint32_t delayMs = 0;
    };

    void OnEvent(Deframer::Event event, Outcome* out);
    void HandleFrame(std::span<const uint8_t> frame, Outcome* out);
    Reply HandlePacket(uint8_t seq, const uint8_t* cmd, size_t length);
    Reply HandleUnlock(uint8_t seq, size_t length);
    Reply HandleData(uint8_t seq, const uint8_t* cmd, size_t length);
    Reply HandleGo(uint8_t seq, size_t length);
    uint8_t ApplyErase(const uint8_t* cmd, size_t length, uint32_t* delayMs);
    uint8_t ApplyWrite(const uint8_t* cmd, size_t length);
    bool InFlash(uint64_t address, uint64_t length) const;
    std::string DumpName() const;
    const Fault* FaultFor(uint64_t dataPacket) const;
    const Fault* FindFault(FaultKind kind) const;
    void DamageReply(const Fault& fault, uint8_t seq, std::vector<uint8_t>* payload);
    bool TakeResend(uint64_t hash);
    static bool IsNak(const Fault& fault);
    Reply FaultNak(const Fault& fault, uint8_t seq, uint64_t hash);
    Reply Nak(uint8_t seq, uint8_t error);
    Reply Ack(uint8_t seq);
    void CountReply(const std::vector<uint8_t>& payload);
    void Log(const std::string& line) const;
    void LogVerbose(const std::string& line) const;

    HandsetConfig config_;
    Deframer deframer_;
    FlashModel flash_;
    HandsetStats stats_;
    bool unlocked_ = false;
    bool imageComplete_ = false;  // go came; the next unlock starts a fresh model
    bool dumpDue_ = false;
    uint64_t hangUpAt_ = 0;
    uint64_t mutedUnlocks_ = 0;
    uint32_t slowEraseMs_ = 0;
    std::deque<uint64_t> nakedPackets_;  // hashes of packets answered with NAK 1
};

}  // namespace sim
