// The packet window: commands go out numbered modulo 4, at most three
// unanswered at a time; the handset answers each packet with ACK or NAK.
// Four buffers per channel keep the packets that may have to go again.
#pragma once

#include <cstdint>

#include "link/channel.h"

inline constexpr int kPacketBufferSize = 16400;
inline constexpr int kWindowPolls = 1200;
inline constexpr int kDrainPolls = 300;
inline constexpr int kTargetInfoSize = 80;

struct LinkState {
    int32_t txCount;       // packets counted as sent; low two bits: next sequence number
    int32_t rxCount;       // replies received (frames of three bytes or more)
    int32_t error_no;      // number of the packet to send again, -1 for none
    int32_t errorCount;    // errors since the last link reset
    uint8_t replyRing[4];  // last reply code per sequence slot; 0 while awaited
    int32_t sendFailed;    // 1 when a packet could not be sent in time
};

struct PacketBuffer {
    int32_t start;  // first command byte (always the header length)
    int32_t end;    // one past the last command byte
    uint8_t data[kPacketBufferSize];
};

inline constexpr int8_t kNoPacketBuffer = -1;

// The buffer each sequence slot's packet last went out from: a resend takes
// it from there, and no new packet is built over it while it is needed.
struct SlotBuffers {
    int8_t of[4] = {kNoPacketBuffer, kNoPacketBuffer, kNoPacketBuffer, kNoPacketBuffer};
};

// One channel's packet window: its counters, its four packet buffers and
// which of them the next packet and each sequence slot use.
struct PacketChannel {
    LinkState FN;
    PacketBuffer packetBuffers[4];
    int32_t packetSelect;  // the buffer after the last one taken (modulo 4)
    PacketBuffer* curPacket;
    int32_t headerLength;   // bytes before a packet's command (its sequence number)
    uint8_t lastStraySlot;  // slot of the last reply that answered no command
    SlotBuffers slotBuffer;
};
extern PacketChannel g_packetChannels[kChannelCount];

inline constexpr ChannelField<g_packetChannels, &PacketChannel::FN> FN{};
inline constexpr ChannelField<g_packetChannels, &PacketChannel::packetBuffers> g_packetBuffers{};
inline constexpr ChannelField<g_packetChannels, &PacketChannel::packetSelect> packetSelect{};
inline constexpr ChannelField<g_packetChannels, &PacketChannel::curPacket> curPacket{};
inline constexpr ChannelField<g_packetChannels, &PacketChannel::headerLength> headerLength{};
inline constexpr ChannelField<g_packetChannels, &PacketChannel::lastStraySlot> lastStraySlot{};
inline constexpr ChannelField<g_packetChannels, &PacketChannel::slotBuffer> g_slotBuffer{};

// The reply codes, the same for every channel (set once per session).
extern uint8_t ackCode;
extern uint8_t nakCode;

// Copies the data of the last target-information reply (any channel).
void FLASH_DOWNLOADER_GetTargetInfo(uint8_t out[kTargetInfoSize]);

// Sets the reply codes from the opcode table (session start, before any
// channel runs).
void FLASH_DOWNLOADER_InitCodes();
// Channel start: selector and current buffer back to buffer 0.
void FLASH_DOWNLOADER_SelectFirstBuffer(int channel);
// Channel start: header length, stray slot and the window reset.
void FLASH_DOWNLOADER_InitLink(int channel);
void FLASH_DOWNLOADER_ResetLink(int channel);
void FLASH_DOWNLOADER_NextPacket(int channel);
void FLASH_DOWNLOADER_SendPacket(int channel, uint8_t* data, int start, int end);
int FLASH_DOWNLOADER_WaitWindow(int channel, int polls);
int FLASH_DOWNLOADER_WaitAllAcked(int channel, int polls);
// The wait for an erase: like WaitAllAcked, but never shorter than polls
// times kEraseTickMs. The erase's poll count stands for the handset's erase
// time at one system tick per poll; a 1 ms sleep is far shorter than that
// tick was, and a real erase must not run out for it.
inline constexpr uint32_t kEraseTickMs = 16;
int FLASH_DOWNLOADER_WaitErased(int channel, int polls);
// Waits until every packet is answered, sending again whatever the handset
// asks for meanwhile (at most eight rounds of polls each).
int FLASH_DOWNLOADER_Drain(int channel, int polls);
void FLASH_DOWNLOADER_Resend(int channel);
void FLASH_DOWNLOADER_Receive(int channel, const uint8_t* frame, int from, int to);
void FLASH_DOWNLOADER_Receive_CRC_error(int channel, int slot);
