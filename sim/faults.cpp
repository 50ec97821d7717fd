#include "sim/faults.h"

#include "sim/number.h"

namespace sim {
namespace {

enum class Need { kNo, kOptional, kYes };

struct KindInfo {
    const char* name;
    FaultKind kind;
    Need value;
    Need at;
    uint64_t minValue;
    uint64_t maxValue;
};

constexpr uint64_t kMaxCount = 1000000000000ull;

constexpr KindInfo kKinds[] = {
    {"nak1-every", FaultKind::kNakResendEvery, Need::kYes, Need::kNo, 1, kMaxCount},
    {"nak-err", FaultKind::kNakError, Need::kYes, Need::kYes, 0, 255},
    {"bad-fcs", FaultKind::kBadFcs, Need::kNo, Need::kYes, 0, 0},
    {"bad-slot", FaultKind::kBadSlot, Need::kNo, Need::kYes, 0, 0},
    {"stray", FaultKind::kStray, Need::kOptional, Need::kYes, 0, 255},
    {"drop", FaultKind::kDrop, Need::kNo, Need::kYes, 0, 0},
    {"slow-erase", FaultKind::kSlowErase, Need::kYes, Need::kNo, 1, 3600000},
    {"mute-unlock", FaultKind::kMuteUnlock, Need::kOptional, Need::kNo, 1, kMaxCount},
    {"hangup", FaultKind::kHangUp, Need::kYes, Need::kNo, 1, kMaxCount},
    {"info", FaultKind::kTargetInfo, Need::kNo, Need::kOptional, 0, 0},
};

bool ParseChannel(const std::string& prefix, FaultRule* rule, std::string* error) {
    if (prefix == "all") return true;
    uint64_t k = 0;
    if (prefix.size() < 3 || prefix.compare(0, 2, "ch") != 0 ||
        !ParseNumber(prefix.substr(2), &k) || k > 7) {
        *error = "handset prefix '" + prefix + ":' must be ch0: to ch7: or all:";
        return false;
    }
    rule->handset = static_cast<int>(k);
    return true;
}

// "hN" or "everyN"; false when the prefix is neither.
bool IsNumberPrefix(const std::string& prefix) {
    return (prefix.size() > 1 && prefix[0] == 'h') || prefix.compare(0, 5, "every") == 0;
}

bool ParseNumberPrefix(const std::string& prefix, FaultRule* rule, std::string* error) {
    const bool every = prefix[0] == 'e';
    uint64_t n = 0;
    if (!ParseNumber(prefix.substr(every ? 5 : 1), &n) || n < 1 || n > kMaxCount) {
        *error = "handset number prefix '" + prefix + ":' must be hN: or everyN: with N from 1";
        return false;
    }
    (every ? rule->every : rule->number) = n;
    return true;
}

// Takes the prefixes before the kind: at most one channel prefix and one
// handset number prefix.
bool ParsePrefixes(std::string* text, FaultRule* rule, std::string* error) {
    bool channel = false, number = false;
    for (size_t colon; (colon = text->find(':')) != std::string::npos;) {
        const std::string prefix = text->substr(0, colon);
        *text = text->substr(colon + 1);
        const bool isNumber = IsNumberPrefix(prefix);
        if (isNumber ? number : channel) {
            *error =
                "more than one " + std::string(isNumber ? "handset number" : "handset") + " prefix";
            return false;
        }
        (isNumber ? number : channel) = true;
        if (!(isNumber ? ParseNumberPrefix(prefix, rule, error)
                       : ParseChannel(prefix, rule, error))) {
            return false;
        }
    }
    return true;
}

const KindInfo* FindKind(const std::string& name) {
    for (const KindInfo& info : kKinds) {
        if (name == info.name) return &info;
    }
    return nullptr;
}

bool CheckPart(const char* what, Need need, bool present, const std::string& kind,
               std::string* error) {
    if (need == Need::kYes && !present) {
        *error = "'" + kind + "' needs " + what;
        return false;
    }
    if (need == Need::kNo && present) {
        *error = "'" + kind + "' takes no " + what;
        return false;
    }
    return true;
}

bool CheckStrayCode(uint64_t code, std::string* error) {
    if (code == 0x02 || code == 0x03 || code == 0x70) {
        *error = "a stray code must not be ACK (2), NAK (3) or target information (0x70)";
        return false;
    }
    return true;
}

// Splits "kind[=value][@N]" into its three parts.
void SplitBody(const std::string& body, std::string* kind, std::string* value, std::string* at,
               bool* hasValue, bool* hasAt) {
    const size_t atPos = body.find('@');
    std::string head = body.substr(0, atPos);
    *hasAt = atPos != std::string::npos;
    *at = *hasAt ? body.substr(atPos + 1) : "";
    const size_t eq = head.find('=');
    *hasValue = eq != std::string::npos;
    *kind = head.substr(0, eq);
    *value = *hasValue ? head.substr(eq + 1) : "";
}

bool ParseBody(const std::string& body, Fault* fault, std::string* error) {
    std::string kind, value, at;
    bool hasValue = false, hasAt = false;
    SplitBody(body, &kind, &value, &at, &hasValue, &hasAt);
    const KindInfo* info = FindKind(kind);
    if (info == nullptr) {
        *error = "unknown fault '" + kind + "'";
        return false;
    }
    if (!CheckPart("a value (=...)", info->value, hasValue, kind, error)) return false;
    if (!CheckPart("a packet number (@N)", info->at, hasAt, kind, error)) return false;
    fault->kind = info->kind;
    if (hasValue && (!ParseNumber(value, &fault->value) || fault->value < info->minValue ||
                     fault->value > info->maxValue)) {
        *error = "'" + kind + "' value '" + value + "' must be a number from " +
                 std::to_string(info->minValue) + " to " + std::to_string(info->maxValue);
        return false;
    }
    if (hasAt && (!ParseNumber(at, &fault->at) || fault->at < 1 || fault->at > kMaxCount)) {
        *error = "'" + kind + "' packet number '" + at + "' must be a number from 1";
        return false;
    }
    if (info->kind == FaultKind::kStray && !hasValue) fault->value = kDefaultStrayCode;
    if (info->kind == FaultKind::kStray) return CheckStrayCode(fault->value, error);
    return true;
}

}  // namespace

bool ParseFault(const std::string& text, FaultRule* out, std::string* error) {
    std::string body = text;
    FaultRule rule;
    if (!ParsePrefixes(&body, &rule, error)) return false;
    if (!ParseBody(body, &rule.fault, error)) return false;
    *out = rule;
    return true;
}

bool AppliesTo(const FaultRule& rule, int channel, uint64_t number) {
    if (rule.handset >= 0 && rule.handset != channel) return false;
    if (rule.number != 0 && rule.number != number) return false;
    return rule.every == 0 || number % rule.every == 0;
}

bool FiresAt(const Fault& fault, uint64_t n) {
    switch (fault.kind) {
        case FaultKind::kNakResendEvery:
            return fault.value > 0 && n % fault.value == 0;
        case FaultKind::kNakError:
        case FaultKind::kBadFcs:
        case FaultKind::kBadSlot:
        case FaultKind::kStray:
        case FaultKind::kDrop:
        case FaultKind::kTargetInfo:
            return fault.at != 0 && n == fault.at;
        default:
            return false;
    }
}

const char* FaultHelp() {
    return "Faults (--fault [chK:|all:][hN:|everyN:]KIND, repeatable; K is the handset\n"
           "0..7, no prefix means every handset; with --swap, hN: is only the Nth handset\n"
           "to arrive on a channel and everyN: every Nth one (N, 2N, ...); numbers are\n"
           "decimal or 0x-hexadecimal):\n"
           "  nak1-every=N     answer every Nth data packet with NAK error 1 (not applied)\n"
           "  nak-err=E@N      answer the Nth data packet with NAK error E (0..255, not applied)\n"
           "  bad-fcs@N        the reply to the Nth data packet has a wrong FCS\n"
           "  bad-slot@N       the reply to the Nth data packet starts with 0x05\n"
           "  stray[=C]@N      the reply to the Nth data packet has code C (default 0x55)\n"
           "  drop@N           no reply to the Nth data packet\n"
           "  slow-erase=MS    every erase takes MS milliseconds more\n"
           "  mute-unlock[=K]  no answer to the first K unlocks (to every unlock without =K)\n"
           "  hangup=N         close the line like a pulled cable once N bytes have arrived\n"
           "                   (nothing is answered after that)\n"
           "  info[@N]         answer with target information (0x70) instead of ACK: every\n"
           "                   unlock, or with @N the Nth data packet\n"
           "Data packets are the write and erase packets that arrive with a good FCS,\n"
           "numbered from 1 per handset since it started. A resend (the same bytes as a\n"
           "packet answered with NAK 1) gets no number and no fault. Faults other than\n"
           "NAKs still apply the packet; only its reply is lost or damaged. When several\n"
           "faults fire for one packet the first given wins.\n";
}

}  // namespace sim
