// Faults a simulated handset can be told to commit, so the host's error
// handling can be driven deterministically.
//
// Data packets are the write and erase packets that arrive with a good FCS,
// numbered from 1 per handset since it started. A resend (the same command
// bytes as a packet this handset answered with NAK 1) gets no number and no
// fault, so the numbering does not depend on when the host resends. "@N" names
// the Nth data packet, "every=N" the Nth, 2Nth, ...
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

enum class FaultKind {
    kNakResendEvery,  // nak1-every=N: NAK error 1 (packet not applied)
    kNakError,        // nak-err=E@N: NAK error E (packet not applied)
    kBadFcs,          // bad-fcs@N: the reply's FCS is wrong
    kBadSlot,         // bad-slot@N: the reply's first byte is 0x05
    kStray,           // stray[=C]@N: the reply carries code C instead of ACK
    kDrop,            // drop@N: no reply
    kSlowErase,       // slow-erase=MS: every erase takes MS more milliseconds
    kMuteUnlock,      // mute-unlock[=K]: the first K unlocks (all without =K) go unanswered
    kHangUp,          // hangup=N: the line goes dead once N bytes have arrived
    kTargetInfo,      // info[@N]: target information instead of ACK (to unlocks without @N)
};

inline constexpr uint8_t kDefaultStrayCode = 0x55;
inline constexpr uint8_t kBadSlotByte = 0x05;

struct Fault {
    FaultKind kind = FaultKind::kDrop;
    uint64_t value = 0;  // the =value (0 when absent)
    uint64_t at = 0;     // the @N data packet (0 when absent)
};

// A fault and the handsets it applies to: the channel's and, with --swap, the
// handset numbers among those that arrive on a channel (1, 2, 3, ...).
struct FaultRule {
    int handset = -1;     // the channel 0..7; -1: every channel
    uint64_t number = 0;  // hN: only the Nth handset of a channel; 0: any
    uint64_t every = 0;   // everyN: only every Nth handset of a channel; 0: any
    Fault fault;
};

// Parses "[chK:|all:][hN:|everyN:]kind[=value][@N]" (the two prefixes in
// either order); on failure *error says why in one line.
bool ParseFault(const std::string& text, FaultRule* out, std::string* error);

// True when the rule applies to handset number `number` (from 1) on channel k.
bool AppliesTo(const FaultRule& rule, int channel, uint64_t number);

// The fault syntax as shown by --help.
const char* FaultHelp();

// True when a fault that answers data packets fires for data packet n.
bool FiresAt(const Fault& fault, uint64_t n);

}  // namespace sim
