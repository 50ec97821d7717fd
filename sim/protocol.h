// What the handset's resident downloader speaks on the line: frames between
// flags, packets of [sequence][command bytes][FCS], and the replies it sends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

inline constexpr uint8_t kFlag = 0x7E;
inline constexpr uint8_t kEscape = 0x7D;
inline constexpr uint8_t kEscapeXor = 0x20;
// Longest frame accepted, counted after unstuffing.
inline constexpr size_t kMaxFrameBytes = 16400;
inline constexpr size_t kMaxWriteBytes = 0x4000;
inline constexpr size_t kTargetInfoBytes = 80;

// Command codes (first command byte of a packet).
inline constexpr uint8_t kCmdUnlock = 0xA0;
inline constexpr uint8_t kCmdErase = 0xEE;
inline constexpr uint8_t kCmdWrite = 0xDD;
inline constexpr uint8_t kCmdClose = 0xC0;
inline constexpr uint8_t kCmdGo = 0x90;

// Reply codes.
inline constexpr uint8_t kReplyAck = 0x02;
inline constexpr uint8_t kReplyNak = 0x03;
inline constexpr uint8_t kReplyTargetInfo = 0x70;

// NAK error numbers.
inline constexpr uint8_t kErrResend = 1;
inline constexpr uint8_t kErrLocked = 2;
inline constexpr uint8_t kErrBadLength = 3;
inline constexpr uint8_t kErrUnknownCommand = 4;
inline constexpr uint8_t kErrNotErased = 5;  // a write to flash that was never erased

// CRC-16/X-25 over a byte range.
uint16_t Fcs(const uint8_t* data, size_t count);

// Appends the stuffed frame of payload (flags included) to out.
void AppendFrame(const std::vector<uint8_t>& payload, std::vector<uint8_t>* out);

// Reply payloads (unstuffed, FCS appended over everything after the sequence
// byte).
std::vector<uint8_t> AckPayload(uint8_t seq);
std::vector<uint8_t> NakPayload(uint8_t seq, uint8_t error);
std::vector<uint8_t> TargetInfoPayload(uint8_t seq, const uint8_t (&info)[kTargetInfoBytes]);
// Appends the FCS of payload[1..] low byte first.
void AppendFcs(std::vector<uint8_t>* payload);

}  // namespace sim
