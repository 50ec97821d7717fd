#include "link/frame.h"

#include <atomic>

#include "link/packet.h"
#include "link/serial.h"

FrameChannel g_frameChannels[kChannelCount];

namespace {

std::atomic<FrameWriter> g_writer{&SERIAL_PORT_Write};
std::atomic<FrameReceiver> g_receiver{&FLASH_DOWNLOADER_Receive};

// Deframer states.
enum : int32_t { kHunting = 0, kAfterFlag = 1, kInFrame = 2, kAfterEscape = 3 };

inline uint32_t FcsStep(uint32_t reg, uint8_t byte) {
    return (reg >> 8) ^ g_fcsTable[(reg ^ byte) & 0xFF];
}

}  // namespace

void CRC16_Init(uint32_t& reg) {
    reg = 0xFFFF;
}

void CRC16_Update(uint32_t& reg, uint8_t byte) {
    reg = FcsStep(reg, byte);
}

uint16_t CRC16_Final(uint32_t reg) {
    return static_cast<uint16_t>((reg ^ 0xFFFF) & 0xFFFF);
}

uint16_t CRC16_Compute(const uint8_t* data, int count) {
    uint32_t reg = 0xFFFF;
    for (int i = 0; i < count; ++i)
        reg = FcsStep(reg, data[i]);
    return CRC16_Final(reg);
}

void CRC16_Append(uint32_t& reg, uint8_t* buffer, int from, int count) {
    if (count <= 0) {
        buffer[from] = 0;
        buffer[from + 1] = 0;
        return;
    }
    CRC16_Init(reg);
    for (int i = 0; i < count; ++i)
        reg = FcsStep(reg, buffer[from + i]);
    uint16_t fcs = CRC16_Final(reg);
    buffer[from + count] = static_cast<uint8_t>(fcs & 0xFF);
    buffer[from + count + 1] = static_cast<uint8_t>(fcs >> 8);
}

int CRC16_Verify(uint32_t& reg, const uint8_t* buffer, int from, int count) {
    uint16_t fcs = 0;
    if (count > 2) {
        CRC16_Init(reg);
        for (int i = 0; i < count - 2; ++i)
            reg = FcsStep(reg, buffer[from + i]);
        fcs = CRC16_Final(reg);
    }
    return buffer[from + count - 2] == (fcs & 0xFF) && buffer[from + count - 1] == (fcs >> 8);
}

void FRAME_SetWriter(FrameWriter writer) {
    g_writer.store(writer != nullptr ? writer : &SERIAL_PORT_Write);
}

void FRAME_SetReceiver(FrameReceiver receiver) {
    g_receiver.store(receiver != nullptr ? receiver : &FLASH_DOWNLOADER_Receive);
}

void FRAME_Reset(int channel) {
    g_frameChannels[channel].txStageLen = 0;
    FRAME_ResetReceiver(channel);
}

void FRAME_ResetReceiver(int channel) {
    FrameChannel& codec = g_frameChannels[channel];
    codec.rxState = kHunting;
    codec.rxLength = 0;
}

void FRAME_Flush(int channel) {
    FrameChannel& codec = g_frameChannels[channel];
    if (codec.txStageLen > 0) g_writer.load()(channel, codec.txStage, 0, codec.txStageLen);
    codec.txStageLen = 0;
}

void FRAME_PutByte(int channel, uint8_t byte) {
    FrameChannel& codec = g_frameChannels[channel];
    codec.txStage[codec.txStageLen++] = byte;
    if (codec.txStageLen >= kTxStageSize) FRAME_Flush(channel);
}

void FRAME_PutEscaped(int channel, uint8_t byte) {
    if (byte == kFrameFlag || byte == kFrameEscape) {
        FRAME_PutByte(channel, kFrameEscape);
        FRAME_PutByte(channel, byte ^ kFrameEscapeXor);
    } else {
        FRAME_PutByte(channel, byte);
    }
}

void FRAME_Send(int channel, const uint8_t* buffer, int from, int to) {
    // Whole or not at all: a stop waiting for the port gets no new frame.
    if (!SERIAL_PORT_BeginFrame(channel)) return;
    FRAME_PutByte(channel, kFrameFlag);
    for (int i = from; i < to; ++i)
        FRAME_PutEscaped(channel, buffer[i]);
    FRAME_PutByte(channel, kFrameFlag);
    FRAME_Flush(channel);
    SERIAL_PORT_EndFrame(channel);
}

void FRAME_Parse(int channel, const uint8_t* buffer, int from, int to) {
    FrameChannel& codec = g_frameChannels[channel];
    int32_t state = codec.rxState;
    int32_t length = codec.rxLength;
    uint8_t* frame = codec.rxFrame;
    for (int i = from; i < to; ++i) {
        uint8_t byte = buffer[i];
        switch (state) {
            case kHunting:
                if (byte == kFrameFlag) {
                    state = kAfterFlag;
                    length = 0;
                }
                continue;
            case kAfterFlag:
                if (byte == kFrameFlag) continue;
                state = kInFrame;
                [[fallthrough]];
            case kInFrame:
                if (byte == kFrameEscape) {
                    state = kAfterEscape;
                    continue;
                }
                if (byte == kFrameFlag) {
                    state = kHunting;
                    if (length > 0) {
                        // The handler may look at the deframer; keep it current.
                        codec.rxState = state;
                        codec.rxLength = length;
                        g_receiver.load(std::memory_order_relaxed)(channel, frame, 0, length);
                    }
                    length = 0;
                    continue;
                }
                break;
            case kAfterEscape:
                byte ^= kFrameEscapeXor;
                state = kInFrame;
                break;
        }
        if (length >= kRxFrameSize) {  // too long for the buffer: drop it whole
            state = kHunting;
            length = 0;
            continue;
        }
        frame[length++] = byte;
    }
    codec.rxState = state;
    codec.rxLength = length;
}
