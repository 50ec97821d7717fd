// The frame codec: packets travel between flags (0x7E) with 0x7E and 0x7D
// escaped (0x7D, byte XOR 0x20), checked by the 16-bit FCS of RFC 1662
// (CRC-16/X-25), sent low byte first.
#pragma once

#include <array>
#include <cstdint>

#include "link/channel.h"

inline constexpr uint8_t kFrameFlag = 0x7E;
inline constexpr uint8_t kFrameEscape = 0x7D;
inline constexpr uint8_t kFrameEscapeXor = 0x20;
inline constexpr int kTxStageSize = 4096;
inline constexpr int kRxFrameSize = 16400;
// Every byte of the largest packet stuffed, with its flags: the most one frame
// can take on the line.
inline constexpr int kLargestFrameBytes = 2 * kRxFrameSize + 2;

// The FCS table of the reflected polynomial 0x8408 (0x1021 bit-reversed).
constexpr std::array<uint16_t, 256> MakeFcsTable() {
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned v = i;
        for (int bit = 0; bit < 8; ++bit)
            v = (v & 1) ? (v >> 1) ^ 0x8408 : v >> 1;
        table[i] = static_cast<uint16_t>(v);
    }
    return table;
}
inline constexpr std::array<uint16_t, 256> g_fcsTable = MakeFcsTable();

void CRC16_Init(uint32_t& reg);
void CRC16_Update(uint32_t& reg, uint8_t byte);
uint16_t CRC16_Final(uint32_t reg);
// FCS over count bytes from index from, stored low byte first behind them
// (the FCS of no bytes, 0x0000, at from when count <= 0).
void CRC16_Append(uint32_t& reg, uint8_t* buffer, int from, int count);
// count includes the two FCS bytes; 1 when they match.
int CRC16_Verify(uint32_t& reg, const uint8_t* buffer, int from, int count);
// The FCS of a byte range in one call.
uint16_t CRC16_Compute(const uint8_t* data, int count);

// One channel's codec: the staging of the bytes going out, the deframer of
// the bytes coming in, and the FCS registers of the packets either way.
struct FrameChannel {
    uint8_t txStage[kTxStageSize];
    int32_t txStageLen;
    uint8_t rxFrame[kRxFrameSize];
    int32_t rxState;
    int32_t rxLength;
    uint32_t txCrc;
    uint32_t rxCrc;
};
extern FrameChannel g_frameChannels[kChannelCount];

inline constexpr ChannelField<g_frameChannels, &FrameChannel::txStage> txStage{};
inline constexpr ChannelField<g_frameChannels, &FrameChannel::txStageLen> txStageLen{};
inline constexpr ChannelField<g_frameChannels, &FrameChannel::rxFrame> rxFrame{};
inline constexpr ChannelField<g_frameChannels, &FrameChannel::rxState> rxState{};
inline constexpr ChannelField<g_frameChannels, &FrameChannel::rxLength> rxLength{};
inline constexpr ChannelField<g_frameChannels, &FrameChannel::txCrc> g_txCrc{};
inline constexpr ChannelField<g_frameChannels, &FrameChannel::rxCrc> g_rxCrc{};

void FRAME_PutByte(int channel, uint8_t byte);
void FRAME_Flush(int channel);
void FRAME_PutEscaped(int channel, uint8_t byte);
// Sends buffer[from..to) as one frame.
void FRAME_Send(int channel, const uint8_t* buffer, int from, int to);
// Feeds received bytes to the deframer; every complete frame goes to the
// reply handler before the next byte is looked at. A frame longer than the
// frame buffer is dropped whole and the deframer hunts for the next flag.
void FRAME_Parse(int channel, const uint8_t* buffer, int from, int to);
// Resets a channel's staging and deframer (session start).
void FRAME_Reset(int channel);
// Resets the deframer alone: whatever part of a frame it held is dropped.
void FRAME_ResetReceiver(int channel);

// Where flushed bytes go: the port by default. Tests and benchmarks point it
// at a memory sink.
using FrameWriter = int32_t (*)(int channel, const uint8_t* buffer, int offset, int length);
void FRAME_SetWriter(FrameWriter writer);

// Where complete received frames go: the reply handler by default. Tests of
// the deframer point it elsewhere.
using FrameReceiver = void (*)(int channel, const uint8_t* frame, int from, int to);
void FRAME_SetReceiver(FrameReceiver receiver);
