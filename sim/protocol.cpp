#include "sim/protocol.h"

#include <algorithm>
#include <iterator>

#include "link/frame.h"  // the FCS table only (header-only, constexpr)

namespace sim {

uint16_t Fcs(const uint8_t* data, size_t count) {
    uint32_t reg = 0xFFFF;
    for (size_t i = 0; i < count; ++i)
        reg = (reg >> 8) ^ g_fcsTable[(reg ^ data[i]) & 0xFF];
    return static_cast<uint16_t>(reg ^ 0xFFFF);
}

void AppendFrame(const std::vector<uint8_t>& payload, std::vector<uint8_t>* out) {
    out->push_back(kFlag);
    for (uint8_t byte : payload) {
        if (byte == kFlag || byte == kEscape) {
            out->push_back(kEscape);
            out->push_back(byte ^ kEscapeXor);
        } else {
            out->push_back(byte);
        }
    }
    out->push_back(kFlag);
}

void AppendFcs(std::vector<uint8_t>* payload) {
    const uint16_t fcs = payload->size() > 1 ? Fcs(payload->data() + 1, payload->size() - 1) : 0;
    payload->push_back(static_cast<uint8_t>(fcs & 0xFF));
    payload->push_back(static_cast<uint8_t>(fcs >> 8));
}

std::vector<uint8_t> AckPayload(uint8_t seq) {
    std::vector<uint8_t> p{seq, kReplyAck};
    AppendFcs(&p);
    return p;
}

std::vector<uint8_t> NakPayload(uint8_t seq, uint8_t error) {
    std::vector<uint8_t> p{seq, kReplyNak, 0x00, error};
    AppendFcs(&p);
    return p;
}

std::vector<uint8_t> TargetInfoPayload(uint8_t seq, const uint8_t (&info)[kTargetInfoBytes]) {
    // Sized at once: growing a three-byte vector by the block made g++ 12
    // warn about bounds (-Warray-bounds) on its own reallocation.
    std::vector<uint8_t> p(3 + kTargetInfoBytes);
    p[0] = seq;
    p[1] = kReplyTargetInfo;
    std::copy(std::begin(info), std::end(info), p.begin() + 3);
    AppendFcs(&p);
    return p;
}

}  // namespace sim
