// Packets and replies built the plain way, bit by bit, independently of the
// simulator's and the host's table-driven code.
#pragma once

#include <cstdint>
#include <vector>

namespace simtest {

inline uint16_t BitwiseFcs(const std::vector<uint8_t>& bytes, size_t from = 0) {
    uint16_t reg = 0xFFFF;
    for (size_t i = from; i < bytes.size(); ++i) {
        reg ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit)
            reg = (reg & 1) ? (reg >> 1) ^ 0x8408 : reg >> 1;
    }
    return static_cast<uint16_t>(~reg);
}

// 0x7E, body stuffed, 0x7E.
inline std::vector<uint8_t> Stuffed(const std::vector<uint8_t>& body) {
    std::vector<uint8_t> out{0x7E};
    for (uint8_t b : body) {
        if (b == 0x7E || b == 0x7D) {
            out.push_back(0x7D);
            out.push_back(b ^ 0x20);
        } else {
            out.push_back(b);
        }
    }
    out.push_back(0x7E);
    return out;
}

// A host packet: [seq][command][FCS of the command, low byte first].
inline std::vector<uint8_t> Packet(uint8_t seq, const std::vector<uint8_t>& command) {
    std::vector<uint8_t> body{seq};
    body.insert(body.end(), command.begin(), command.end());
    const uint16_t fcs = BitwiseFcs(command);
    body.push_back(static_cast<uint8_t>(fcs & 0xFF));
    body.push_back(static_cast<uint8_t>(fcs >> 8));
    return Stuffed(body);
}

inline void PutLe(std::vector<uint8_t>* out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

inline std::vector<uint8_t> EraseCommand(uint32_t address, uint32_t length) {
    std::vector<uint8_t> cmd{0xEE};
    PutLe(&cmd, address, 4);
    PutLe(&cmd, length, 4);
    return cmd;
}

inline std::vector<uint8_t> WriteCommand(uint32_t address, const std::vector<uint8_t>& data,
                                         uint32_t lengthField) {
    std::vector<uint8_t> cmd{0xDD};
    PutLe(&cmd, address, 4);
    PutLe(&cmd, lengthField, 2);
    cmd.insert(cmd.end(), data.begin(), data.end());
    return cmd;
}

inline std::vector<uint8_t> WriteCommand(uint32_t address, const std::vector<uint8_t>& data) {
    return WriteCommand(address, data, static_cast<uint32_t>(data.size()));
}

// A reply as the handset should send it: FCS over everything after the
// sequence byte.
inline std::vector<uint8_t> Reply(const std::vector<uint8_t>& body) {
    std::vector<uint8_t> full = body;
    const uint16_t fcs = BitwiseFcs(body, 1);
    full.push_back(static_cast<uint8_t>(fcs & 0xFF));
    full.push_back(static_cast<uint8_t>(fcs >> 8));
    return Stuffed(full);
}

// Bytes of an ACK frame on the wire: the same for every sequence number, as
// the FCS covers only the code.
inline size_t AckFrameSize() {
    return Reply({0x00, 0x02}).size();
}

// Bytes that need stuffing appear often.
inline std::vector<uint8_t> Pattern(size_t length, uint32_t seed) {
    std::vector<uint8_t> out(length);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < length; ++i) {
        x = x * 1664525u + 1013904223u;
        const uint8_t r = static_cast<uint8_t>(x >> 24);
        out[i] = (r & 7) == 0 ? 0x7E : (r & 7) == 1 ? 0x7D : r;
    }
    return out;
}

}  // namespace simtest
