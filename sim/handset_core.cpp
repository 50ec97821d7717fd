#include "sim/handset_core.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "sim/dump.h"

namespace sim {
namespace {

// Packets answered with NAK 1 that are remembered to recognise their resend.
constexpr size_t kRememberedNaks = 16;

uint32_t GetU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint16_t GetU16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

// FNV-1a over the command bytes: identifies a packet that comes again.
uint64_t PacketHash(const uint8_t* data, size_t length) {
    uint64_t hash = 1469598103934665603ull;
    for (size_t i = 0; i < length; ++i)
        hash = (hash ^ data[i]) * 1099511628211ull;
    return hash;
}

std::string Hex(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

}  // namespace

std::array<uint8_t, kTargetInfoBytes> DefaultTargetInfo(int index) {
    std::array<uint8_t, kTargetInfoBytes> info{};
    const std::string name = "kvmodem-sim" + std::to_string(index);
    std::memcpy(info.data(), name.data(), name.size());
    info[kTargetInfoBytes - 1] = static_cast<uint8_t>(index);
    return info;
}

std::array<uint8_t, kTargetInfoBytes> DefaultTargetInfo(int index, const std::string& serial) {
    std::array<uint8_t, kTargetInfoBytes> info = DefaultTargetInfo(index);
    const size_t n = std::min(serial.size(), kTargetInfoBytes - 1 - kTargetInfoSerialAt);
    std::memcpy(info.data() + kTargetInfoSerialAt, serial.data(), n);
    return info;
}

HandsetCore::HandsetCore(HandsetConfig config) : config_(std::move(config)) {
    for (const Fault& fault : config_.faults) {
        if (fault.kind == FaultKind::kHangUp && hangUpAt_ == 0) hangUpAt_ = fault.value;
        if (fault.kind == FaultKind::kSlowErase) slowEraseMs_ += static_cast<uint32_t>(fault.value);
    }
}

HandsetStats HandsetCore::Stats() const {
    HandsetStats stats = stats_;
    const DeframerCounts& counts = deframer_.Counts();
    stats.atLines = counts.atLines;
    stats.startLines = counts.startLines;
    stats.garbageBytes = counts.garbageBytes;
    stats.oversizeFrames = counts.oversizeFrames;
    stats.abortedFrames = counts.abortedFrames;
    return stats;
}

size_t HandsetCore::Feed(const uint8_t* data, size_t count, Outcome* out) {
    out->reply.clear();
    out->delayMs = 0;
    out->hangUp = false;
    if (stats_.hungUp) return count;
    if (hangUpAt_ != 0)
        count = static_cast<size_t>(std::min<uint64_t>(count, hangUpAt_ - stats_.bytesReceived));
    size_t taken = 0;
    while (taken < count && out->reply.empty()) {
        const Deframer::Event event = deframer_.Push(data[taken++]);
        if (event != Deframer::Event::kNone) OnEvent(event, out);
    }
    stats_.bytesReceived += taken;
    if (hangUpAt_ != 0 && stats_.bytesReceived >= hangUpAt_) {
        Log("hang-up after " + std::to_string(stats_.bytesReceived) + " bytes");
        stats_.hungUp = true;
        stats_.faultsFired += 1;
        out->reply.clear();
        out->hangUp = true;
    }
    return taken;
}

void HandsetCore::OnEvent(Deframer::Event event, Outcome* out) {
    switch (event) {
        case Deframer::Event::kFrame:
            HandleFrame(deframer_.Frame(), out);
            break;
        case Deframer::Event::kAtLine:
            Log("AT");
            break;
        case Deframer::Event::kStartLine:
            Log("AT#UMSTART");
            break;
        case Deframer::Event::kOversize:
            Log("rejected a frame longer than " + std::to_string(kMaxFrameBytes) + " bytes");
            break;
        case Deframer::Event::kAborted:
            Log("rejected an aborted frame (escape before flag)");
            break;
        case Deframer::Event::kNone:
            break;
    }
}

void HandsetCore::HandleFrame(std::span<const uint8_t> frame, Outcome* out) {
    // [seq][command, at least one byte][FCS lo][FCS hi]
    if (frame.size() < 4) {
        stats_.runtFrames += 1;
        Log("rejected a frame of " + std::to_string(frame.size()) + " bytes");
        return;
    }
    const uint8_t seq = frame[0];
    if (seq > 3) {
        stats_.badSeqFrames += 1;
        Log("rejected a frame with sequence byte " + Hex(seq));
        return;
    }
    const uint8_t* cmd = frame.data() + 1;
    const size_t length = frame.size() - 3;
    const uint16_t fcs = static_cast<uint16_t>(frame[frame.size() - 2] | frame.back() << 8);
    Reply reply;
    if (Fcs(cmd, length) != fcs) {
        stats_.badFcsFrames += 1;
        Log("bad FCS: NAK 1");
        reply = Nak(seq, kErrResend);
    } else {
        stats_.packets += 1;
        reply = HandlePacket(seq, cmd, length);
    }
    if (reply.payload.empty()) return;
    CountReply(reply.payload);
    AppendFrame(reply.payload, &out->reply);
    out->delayMs = reply.delayMs;
}

HandsetCore::Reply HandsetCore::HandlePacket(uint8_t seq, const uint8_t* cmd, size_t length) {
    switch (cmd[0]) {
        case kCmdUnlock:
            return HandleUnlock(seq, length);
        case kCmdErase:
        case kCmdWrite:
            return HandleData(seq, cmd, length);
        case kCmdClose:
            stats_.closes += 1;
            Log("close");
            return length == 1 ? Ack(seq) : Nak(seq, kErrBadLength);
        case kCmdGo:
            return HandleGo(seq, length);
        default:
            stats_.unknownCommands += 1;
            Log("unknown command " + Hex(cmd[0]) + ": NAK 4");
            return Nak(seq, kErrUnknownCommand);
    }
}

HandsetCore::Reply HandsetCore::HandleUnlock(uint8_t seq, size_t length) {
    stats_.unlocks += 1;
    const Fault* mute = FindFault(FaultKind::kMuteUnlock);
    if (mute != nullptr && (mute->value == 0 || mutedUnlocks_ < mute->value)) {
        mutedUnlocks_ += 1;
        stats_.faultsFired += 1;
        Log("unlock left unanswered (mute-unlock)");
        return {};
    }
    if (length != 1) return Nak(seq, kErrBadLength);
    if (TakeDumpDue()) WriteDumpNow();  // the last image's dump was not written yet
    if (imageComplete_) flash_.Clear();
    imageComplete_ = false;
    unlocked_ = true;
    Log("unlock");
    const Fault* info = FindFault(FaultKind::kTargetInfo);
    if (info == nullptr || info->at != 0) return Ack(seq);
    stats_.faultsFired += 1;
    uint8_t bytes[kTargetInfoBytes];
    std::memcpy(bytes, config_.targetInfo.data(), kTargetInfoBytes);
    return {TargetInfoPayload(seq, bytes), 0};
}

HandsetCore::Reply HandsetCore::HandleData(uint8_t seq, const uint8_t* cmd, size_t length) {
    const uint64_t hash = PacketHash(cmd, length);
    // A resend gets no number, so faults do not depend on when the host resends.
    const Fault* fault = TakeResend(hash) ? nullptr : FaultFor(++stats_.dataPackets);
    if (fault != nullptr && IsNak(*fault)) return FaultNak(*fault, seq, hash);
    uint32_t delayMs = 0;
    const uint8_t error =
        cmd[0] == kCmdErase ? ApplyErase(cmd, length, &delayMs) : ApplyWrite(cmd, length);
    Reply reply = error != 0 ? Nak(seq, error) : Ack(seq);
    reply.delayMs = delayMs;
    if (fault != nullptr) DamageReply(*fault, seq, &reply.payload);
    return reply;
}

bool HandsetCore::IsNak(const Fault& fault) {
    return fault.kind == FaultKind::kNakResendEvery || fault.kind == FaultKind::kNakError;
}

// Answers a packet with the fault's NAK without applying it.
HandsetCore::Reply HandsetCore::FaultNak(const Fault& fault, uint8_t seq, uint64_t hash) {
    stats_.faultsFired += 1;
    const uint8_t error =
        fault.kind == FaultKind::kNakError ? static_cast<uint8_t>(fault.value) : kErrResend;
    if (error == kErrResend) {
        nakedPackets_.push_back(hash);
        if (nakedPackets_.size() > kRememberedNaks) nakedPackets_.pop_front();
    }
    Log("data packet " + std::to_string(stats_.dataPackets) + ": NAK " + std::to_string(error));
    return Nak(seq, error);
}

bool HandsetCore::TakeResend(uint64_t hash) {
    for (auto it = nakedPackets_.begin(); it != nakedPackets_.end(); ++it) {
        if (*it == hash) {
            stats_.resends += 1;
            nakedPackets_.erase(it);
            return true;
        }
    }
    return false;
}

uint8_t HandsetCore::ApplyErase(const uint8_t* cmd, size_t length, uint32_t* delayMs) {
    stats_.erases += 1;
    if (!unlocked_) {
        stats_.lockedRejects += 1;
        Log("erase before unlock: NAK 2");
        return kErrLocked;
    }
    const uint32_t address = length == 9 ? GetU32(cmd + 1) : 0;
    const uint32_t size = length == 9 ? GetU32(cmd + 5) : 0;
    if (length != 9 || !InFlash(address, size)) {
        stats_.lengthRejects += 1;
        Log("erase refused (" + Hex(address) + ", " + Hex(size) + "): NAK 3");
        return kErrBadLength;
    }
    flash_.Erase(address, size);
    const uint64_t ms = (static_cast<uint64_t>(size) * config_.eraseMsPer4k + 4095) / 4096;
    *delayMs = static_cast<uint32_t>(ms) + slowEraseMs_;
    Log("erase " + Hex(address) + " length " + Hex(size));
    return 0;
}

uint8_t HandsetCore::ApplyWrite(const uint8_t* cmd, size_t length) {
    stats_.writes += 1;
    if (!unlocked_) {
        stats_.lockedRejects += 1;
        Log("write before unlock: NAK 2");
        return kErrLocked;
    }
    const uint32_t address = length >= 7 ? GetU32(cmd + 1) : 0;
    const size_t size = length >= 7 ? GetU16(cmd + 5) : 0;
    if (length < 7 || size < 1 || size > kMaxWriteBytes || size != length - 7 ||
        !InFlash(address, size)) {
        stats_.lengthRejects += 1;
        Log("write refused (" + Hex(address) + ", " + Hex(size) + "): NAK 3");
        return kErrBadLength;
    }
    if (!flash_.Erased(address, size)) {
        stats_.unerasedWrites += 1;
        Log("write to unerased flash (" + Hex(address) + ", " + Hex(size) + "): NAK 5");
        return kErrNotErased;
    }
    flash_.Write(address, cmd + 7, size);
    LogVerbose("write " + Hex(address) + " length " + Hex(size));
    return 0;
}

bool HandsetCore::InFlash(uint64_t address, uint64_t length) const {
    return address + length <= config_.flashSize;
}

HandsetCore::Reply HandsetCore::HandleGo(uint8_t seq, size_t length) {
    stats_.gos += 1;
    if (length != 1) return Nak(seq, kErrBadLength);
    Log("go");
    dumpDue_ = !config_.outDir.empty();
    imageComplete_ = true;
    unlocked_ = false;
    return Ack(seq);
}

bool HandsetCore::WriteDumpNow() {
    if (config_.outDir.empty()) return true;
    std::string error;
    if (!WriteDump(config_.outDir, DumpName(), flash_, &error)) {
        stats_.dumpFailures += 1;
        Log("dump failed: " + error);
        return false;
    }
    stats_.dumpsWritten += 1;
    Log("dump written to " + config_.outDir + "/" + DumpName() + ".bin");
    return true;
}

std::string HandsetCore::DumpName() const {
    return config_.serial.empty() ? "ch" + std::to_string(config_.index) : config_.serial;
}

const Fault* HandsetCore::FaultFor(uint64_t dataPacket) const {
    for (const Fault& fault : config_.faults) {
        if (FiresAt(fault, dataPacket)) return &fault;
    }
    return nullptr;
}

const Fault* HandsetCore::FindFault(FaultKind kind) const {
    for (const Fault& fault : config_.faults) {
        if (fault.kind == kind) return &fault;
    }
    return nullptr;
}

void HandsetCore::DamageReply(const Fault& fault, uint8_t seq, std::vector<uint8_t>* payload) {
    stats_.faultsFired += 1;
    const std::string what = "data packet " + std::to_string(stats_.dataPackets) + ": ";
    uint8_t info[kTargetInfoBytes];
    switch (fault.kind) {
        case FaultKind::kBadFcs:
            payload->back() ^= 0xFF;
            Log(what + "reply with a wrong FCS");
            break;
        case FaultKind::kBadSlot:
            (*payload)[0] = kBadSlotByte;
            Log(what + "reply starting with 0x05");
            break;
        case FaultKind::kStray:
            *payload = {seq, static_cast<uint8_t>(fault.value)};
            AppendFcs(payload);
            Log(what + "stray reply code " + Hex(fault.value));
            break;
        case FaultKind::kDrop:
            payload->clear();
            Log(what + "reply dropped");
            break;
        case FaultKind::kTargetInfo:
            std::memcpy(info, config_.targetInfo.data(), kTargetInfoBytes);
            *payload = TargetInfoPayload(seq, info);
            Log(what + "target information instead of ACK");
            break;
        default:
            stats_.faultsFired -= 1;
            break;
    }
}

HandsetCore::Reply HandsetCore::Nak(uint8_t seq, uint8_t error) {
    return {NakPayload(seq, error), 0};
}

HandsetCore::Reply HandsetCore::Ack(uint8_t seq) {
    return {AckPayload(seq), 0};
}

// Counts the reply as it goes out, after any fault changed it.
void HandsetCore::CountReply(const std::vector<uint8_t>& payload) {
    if (payload[1] == kReplyAck) stats_.acks += 1;
    if (payload[1] != kReplyNak) return;
    stats_.naks += 1;
    if (payload.size() > 3 && payload[3] == kErrResend) stats_.resendRequests += 1;
}

void HandsetCore::Log(const std::string& line) const {
    if (!config_.log) return;
    const std::string serial = config_.serial.empty() ? "" : " " + config_.serial;
    config_.log("sim" + std::to_string(config_.index) + serial + ": " + line);
}

void HandsetCore::LogVerbose(const std::string& line) const {
    if (config_.verbose) Log(line);
}

}  // namespace sim
