#include "link/packet.h"

#include <cstring>
#include <mutex>

#include "link/commands.h"
#include "link/frame.h"
#include "link/serial.h"
#include "platform/tick.h"
#include "platform/trace.h"

PacketChannel g_packetChannels[kChannelCount];
uint8_t ackCode = 0x02;
uint8_t nakCode = 0x03;

namespace {

constexpr uint8_t kTargetInfoCode = 0x70;
constexpr int kNoBuffer = kNoPacketBuffer;

std::mutex g_targetInfoMutex;
uint8_t g_targetInfo[kTargetInfoSize];

// A slot is free for the next packet once its packet was answered. A NAK is
// an answer too: with error 1 the pending resend takes the packet over (it
// goes again under a new number), with any other error the handset refused
// it for good and the error count already fails the image. Keeping the slot
// shut would only stall what follows, the close and go included.
bool SlotFree(const LinkState& fn, int slot) {
    return fn.replyRing[slot] == ackCode || fn.replyRing[slot] == nakCode;
}

bool WindowOpen(int channel) {
    const LinkState& fn = FN[channel];
    return fn.txCount - fn.rxCount < 4 && SlotFree(fn, fn.txCount & 3);
}

bool AllAcked(int channel) {
    const LinkState& fn = FN[channel];
    return fn.txCount == fn.rxCount && fn.error_no == -1;
}

bool AllAckedOrResendAsked(int channel) {
    return AllAcked(channel) || FN[channel].error_no != -1;
}

// Pumps the port until the condition holds, the polls run out (and, when
// asked, at least minimumMs have passed) or the channel is stopped.
int PollUntil(int channel, int polls, bool (*condition)(int), uint32_t minimumMs = 0) {
    if (condition(channel)) return 1;
    const uint32_t start = platform::GetTickCount();
    for (int i = 0; i < polls || platform::GetTickCount() - start < minimumMs; ++i) {
        SERIAL_PORT_DoReading(channel);
        if (condition(channel)) return 1;
        if (channelActive[channel].load() == 0) return 0;
        platform::Sleep(1);
    }
    return 0;
}

int BufferIndex(int channel, const uint8_t* data) {
    for (int i = 0; i < 4; ++i) {
        if (g_packetBuffers[channel][i].data == data) return i;
    }
    return kNoBuffer;
}

// A buffer is still needed while the packet it last sent waits for its reply
// or waits to go again after a NAK with error 1.
bool BufferNeeded(int channel, int buffer) {
    const LinkState& fn = FN[channel];
    for (int slot = 0; slot < 4; ++slot) {
        if (g_slotBuffer[channel].of[slot] != buffer) continue;
        if (fn.replyRing[slot] == 0) return true;
        if (fn.error_no != -1 && (fn.error_no & 3) == slot) return true;
    }
    return false;
}

void SelectBuffer(int channel, int buffer) {
    curPacket[channel] = &g_packetBuffers[channel][buffer];
    curPacket[channel]->start = headerLength[channel];
}

}  // namespace

void FLASH_DOWNLOADER_GetTargetInfo(uint8_t out[kTargetInfoSize]) {
    std::lock_guard<std::mutex> lock(g_targetInfoMutex);
    std::memcpy(out, g_targetInfo, kTargetInfoSize);
}

void FLASH_DOWNLOADER_SelectFirstBuffer(int channel) {
    packetSelect[channel] = 0;
    curPacket[channel] = &g_packetBuffers[channel][0];
    // A resend finds its packet by the sequence byte it went with; a buffer
    // left from an earlier session must never be taken for one.
    for (PacketBuffer& buffer : g_packetBuffers[channel]) {
        buffer.data[0] = 0xFF;
        buffer.start = buffer.end = 1;
    }
    g_slotBuffer[channel] = SlotBuffers{};
}

void FLASH_DOWNLOADER_InitCodes() {
    ackCode = FLASH_DOWNLOADER_Opcode(0);
    nakCode = FLASH_DOWNLOADER_Opcode(1);
}

void FLASH_DOWNLOADER_InitLink(int channel) {
    headerLength[channel] = 1;
    lastStraySlot[channel] = 0;
    FLASH_DOWNLOADER_ResetLink(channel);
}

void FLASH_DOWNLOADER_ResetLink(int channel) {
    LinkState& fn = FN[channel];
    fn.txCount = fn.rxCount;
    fn.error_no = -1;
    fn.errorCount = 0;
    fn.sendFailed = 0;
    std::memset(fn.replyRing, ackCode, sizeof fn.replyRing);
}

void FLASH_DOWNLOADER_NextPacket(int channel) {
    // At most three packets are ever needed (three unanswered, or two and a
    // pending resend), so one of the four buffers is free. Should all four be
    // needed after a failed send, the next one is taken: that image has
    // failed already.
    for (int skipped = 0; skipped < 3; ++skipped) {
        if (!BufferNeeded(channel, packetSelect[channel] & 3)) break;
        packetSelect[channel] += 1;
    }
    SelectBuffer(channel, packetSelect[channel] & 3);
    packetSelect[channel] += 1;
}

void FLASH_DOWNLOADER_SendPacket(int channel, uint8_t* data, int start, int end) {
    LinkState& fn = FN[channel];
    data[0] = static_cast<uint8_t>(fn.txCount & 3);
    g_slotBuffer[channel].of[fn.txCount & 3] = static_cast<int8_t>(BufferIndex(channel, data));
    fn.replyRing[fn.txCount & 3] = 0;
    fn.txCount += 1;
    CRC16_Append(g_txCrc[channel], data, start, end - start);
    if (!FLASH_DOWNLOADER_WaitWindow(channel, kWindowPolls)) {
        fn.sendFailed = 1;
        return;
    }
    FRAME_Send(channel, data, 0, end + 2);
}

int FLASH_DOWNLOADER_WaitWindow(int channel, int polls) {
    return PollUntil(channel, polls, WindowOpen);
}

int FLASH_DOWNLOADER_WaitAllAcked(int channel, int polls) {
    return PollUntil(channel, polls, AllAcked);
}

int FLASH_DOWNLOADER_WaitErased(int channel, int polls) {
    return PollUntil(channel, polls, AllAcked, static_cast<uint32_t>(polls) * kEraseTickMs);
}

int FLASH_DOWNLOADER_Drain(int channel, int polls) {
    for (int round = 0; round < 8 && channelActive[channel].load() != 0; ++round) {
        FLASH_DOWNLOADER_Resend(channel);
        if (FN[channel].sendFailed != 0) return 0;
        if (PollUntil(channel, polls, AllAckedOrResendAsked) == 0) return 0;
        if (AllAcked(channel)) return 1;
    }
    return 0;
}

void FLASH_DOWNLOADER_Resend(int channel) {
    LinkState& fn = FN[channel];
    if (fn.error_no == -1) return;
    const uint8_t wanted = static_cast<uint8_t>(fn.error_no & 3);
    fn.error_no = -1;
    // The packet is the one last sent with the sequence number asked for.
    const int buffer = g_slotBuffer[channel].of[wanted];
    if (buffer == kNoBuffer || g_packetBuffers[channel][buffer].data[0] != wanted) {
        // Its buffer holds another packet by now: sending that would write
        // stale data, so nothing goes and the image fails on the error.
        TRACE("FLASH_DOWNLOADER_Resend() no packet for %d\n", wanted);
        fn.errorCount += 1;
        return;
    }
    SelectBuffer(channel, buffer);
    // The next new packet takes the buffer after the resent one.
    while ((packetSelect[channel] & 3) != ((buffer + 1) & 3))
        packetSelect[channel] += 1;
    // The packet goes again under a new number: its old slot will never be
    // answered again, so it must not keep the window shut.
    if (fn.replyRing[wanted] == nakCode) fn.replyRing[wanted] = ackCode;
    PacketBuffer* packet = curPacket[channel];
    FLASH_DOWNLOADER_SendPacket(channel, packet->data, packet->start, packet->end);
}

void FLASH_DOWNLOADER_Receive(int channel, const uint8_t* frame, int from, int to) {
    LinkState& fn = FN[channel];
    const int header = headerLength[channel];
    if (to - from < header + 2) return;
    const int32_t r = fn.rxCount;
    fn.rxCount += 1;
    if (static_cast<int8_t>(frame[from]) > 3) {
        FLASH_DOWNLOADER_Receive_CRC_error(channel, lastStraySlot[channel] + 1);
        return;
    }
    if (!CRC16_Verify(g_rxCrc[channel], frame, from + 1, to - from - 1)) {
        FLASH_DOWNLOADER_Receive_CRC_error(channel, r);
        return;
    }
    const uint8_t code = frame[from + header];
    const int slot = frame[from] & 3;
    if (code == ackCode || code == nakCode) {
        fn.replyRing[slot] = code;
        if (code == ackCode) return;
        // The error number; a NAK too short to carry one counts as an error.
        const int errorNumber = to - from > header + 2 + 2 ? frame[from + header + 2] : -1;
        if (errorNumber == 1 && fn.error_no == -1) {
            fn.error_no = r;
            TRACE("FLASH_DOWNLOADER_Receive() FN.error_no = %d\n", r);
        } else {
            // Another error, or a second resend request while one is pending:
            // error_no holds one packet, so this one would go unwritten.
            fn.errorCount += 1;
        }
        return;
    }
    if (code == kTargetInfoCode) {
        std::lock_guard<std::mutex> lock(g_targetInfoMutex);
        const int available = to - 2 - (from + header + 2);  // the FCS is not data
        const int n =
            available < kTargetInfoSize ? (available > 0 ? available : 0) : kTargetInfoSize;
        std::memset(g_targetInfo, 0, sizeof g_targetInfo);
        std::memcpy(g_targetInfo, frame + from + header + 2, static_cast<size_t>(n));
        return;
    }
    fn.replyRing[slot] = ackCode;
    lastStraySlot[channel] = static_cast<uint8_t>(r & 3);
    fn.errorCount += 1;
}

void FLASH_DOWNLOADER_Receive_CRC_error(int channel, int slot) {
    LinkState& fn = FN[channel];
    fn.error_no = fn.rxCount;
    TRACE("FLASH_DOWNLOADER_Receive_CRC_error() FN.error_no = %d\n", fn.error_no);
    fn.replyRing[slot & 3] = ackCode;
    fn.errorCount += 1;
}
