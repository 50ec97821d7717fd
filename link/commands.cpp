#include "link/commands.h"

#include <cstring>

#include "link/packet.h"

namespace {

enum OpcodeIndex : int {
    kErase = 2,
    kWrite = 3,
    kUnlock = 6,
    kClose = 7,
    kGo = 8,
};

// Selects the next buffer and returns it with its end at its start.
PacketBuffer* BeginCommand(int channel) {
    FLASH_DOWNLOADER_NextPacket(channel);
    PacketBuffer* packet = curPacket[channel];
    packet->end = packet->start;
    return packet;
}

int SendBuilt(int channel, PacketBuffer* packet) {
    FLASH_DOWNLOADER_SendPacket(channel, packet->data, packet->start, packet->end);
    return 1;
}

int SendSingleByteCommand(int channel, int opcodeIndex) {
    PacketBuffer* packet = BeginCommand(channel);
    packet->end = FLASH_DOWNLOADER_PutOpcode(packet->data, packet->end, opcodeIndex);
    return SendBuilt(channel, packet);
}

}  // namespace

uint8_t FLASH_DOWNLOADER_Opcode(int index) {
    const uint8_t table[10] = {0x02, 0x03, 0xEE, 0xDD, 0x23, 0x24, 0xA0, 0xC0, 0x90, 0x70};
    return index >= 0 && index < 10 ? table[index] : 0xFF;
}

int FLASH_DOWNLOADER_PutOpcode(uint8_t* data, int pos, int index) {
    data[pos] = FLASH_DOWNLOADER_Opcode(index);
    return pos + 1;
}

int FLASH_DOWNLOADER_PutU32(uint8_t* data, int pos, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        data[pos + i] = static_cast<uint8_t>(value >> (8 * i));
    return pos + 4;
}

int FLASH_DOWNLOADER_PutU16(uint8_t* data, int pos, uint16_t value) {
    data[pos] = static_cast<uint8_t>(value & 0xFF);
    data[pos + 1] = static_cast<uint8_t>(value >> 8);
    return pos + 2;
}

int FLASH_DOWNLOADER_PutBytes(uint8_t* data, int pos, const uint8_t* bytes, int count) {
    std::memcpy(data + pos, bytes, static_cast<size_t>(count));
    return pos + count;
}

int FLASH_DOWNLOADER_SendUnlock(int channel) {
    return SendSingleByteCommand(channel, kUnlock);
}

int FLASH_DOWNLOADER_SendClose(int channel) {
    return SendSingleByteCommand(channel, kClose);
}

int FLASH_DOWNLOADER_SendGo(int channel) {
    return SendSingleByteCommand(channel, kGo);
}

int FLASH_DOWNLOADER_SendErase(int channel, uint32_t address, uint32_t length) {
    PacketBuffer* packet = BeginCommand(channel);
    int pos = FLASH_DOWNLOADER_PutOpcode(packet->data, packet->end, kErase);
    pos = FLASH_DOWNLOADER_PutU32(packet->data, pos, address);
    packet->end = FLASH_DOWNLOADER_PutU32(packet->data, pos, length);
    return SendBuilt(channel, packet);
}

int FLASH_DOWNLOADER_WriteBlock(int channel, uint32_t address, int length, const uint8_t* data) {
    if (length < 1 || length > kMaxWriteLength) return 0;
    PacketBuffer* packet = BeginCommand(channel);
    int pos = FLASH_DOWNLOADER_PutOpcode(packet->data, packet->end, kWrite);
    pos = FLASH_DOWNLOADER_PutU32(packet->data, pos, address);
    pos = FLASH_DOWNLOADER_PutU16(packet->data, pos, static_cast<uint16_t>(length));
    packet->end = FLASH_DOWNLOADER_PutBytes(packet->data, pos, data, length);
    return SendBuilt(channel, packet);
}

int FLASH_DOWNLOADER_Unlock(int channel) {
    FLASH_DOWNLOADER_ResetLink(channel);
    FLASH_DOWNLOADER_SendUnlock(channel);
    if (FLASH_DOWNLOADER_WaitAllAcked(channel, kDrainPolls)) return 1;
    FLASH_DOWNLOADER_Close(channel);
    return 0;
}

int FLASH_DOWNLOADER_ErasePolls(uint32_t length) {
    int polls = static_cast<int32_t>(length) >> 12;
    return polls < 10 ? 10 : polls;
}

int FLASH_DOWNLOADER_Erase(int channel, uint32_t address, uint32_t length) {
    int polls = FLASH_DOWNLOADER_ErasePolls(length);
    FLASH_DOWNLOADER_SendErase(channel, address, length);
    if (FLASH_DOWNLOADER_WaitErased(channel, polls)) return 1;
    FLASH_DOWNLOADER_Close(channel);
    return 0;
}

int FLASH_DOWNLOADER_Close(int channel) {
    if (FN[channel].sendFailed == 0) {
        FLASH_DOWNLOADER_Resend(channel);
        if (!FLASH_DOWNLOADER_WaitAllAcked(channel, kDrainPolls)) FN[channel].sendFailed = 1;
    }
    return FLASH_DOWNLOADER_SendClose(channel);
}

int FLASH_DOWNLOADER_Go(int channel) {
    return FLASH_DOWNLOADER_SendGo(channel);
}
