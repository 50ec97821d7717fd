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

extern LinkState FN[kChannelCount];
extern PacketBuffer g_packetBuffers[kChannelCount][4];
extern int32_t packetSelect[kChannelCount];
extern PacketBuffer* curPacket[kChannelCount];
extern int32_t headerLength[kChannelCount];
extern uint8_t lastStraySlot[kChannelCount];
extern uint8_t ackCode;
extern uint8_t nakCode;

// Copies the data of the last target-information reply (any channel).
void FLASH_DOWNLOADER_GetTargetInfo(uint8_t out[kTargetInfoSize]);

// Session start: selector and current buffer back to buffer 0.
void FLASH_DOWNLOADER_SelectFirstBuffer(int channel);
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
