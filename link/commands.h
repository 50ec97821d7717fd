// The flash command set of the handset's resident downloader. Every command
// is built in place in the channel's next packet buffer and handed to the
// packet window. Multi-byte fields go least significant byte first.
#pragma once

#include <cstdint>

inline constexpr int kMaxWriteLength = 0x4000;

// Opcode table: 0 ACK 0x02, 1 NAK 0x03, 2 erase 0xEE, 3 write 0xDD, 4 0x23,
// 5 0x24, 6 unlock 0xA0, 7 close 0xC0, 8 go 0x90, 9 target info 0x70;
// any other index 0xFF.
uint8_t FLASH_DOWNLOADER_Opcode(int index);

// Field writers: write at pos, return the position after the field.
int FLASH_DOWNLOADER_PutOpcode(uint8_t* data, int pos, int index);
int FLASH_DOWNLOADER_PutU32(uint8_t* data, int pos, uint32_t value);
int FLASH_DOWNLOADER_PutU16(uint8_t* data, int pos, uint16_t value);
int FLASH_DOWNLOADER_PutBytes(uint8_t* data, int pos, const uint8_t* bytes, int count);

// Command builders: 1 once the packet went to the window, whatever it did.
int FLASH_DOWNLOADER_SendUnlock(int channel);
int FLASH_DOWNLOADER_SendErase(int channel, uint32_t address, uint32_t length);
// 0 and nothing done when the length is below 1 or above 0x4000.
int FLASH_DOWNLOADER_WriteBlock(int channel, uint32_t address, int length, const uint8_t* data);
int FLASH_DOWNLOADER_SendClose(int channel);
int FLASH_DOWNLOADER_SendGo(int channel);

// Composite operations: 1 for success, 0 for failure.
int FLASH_DOWNLOADER_Unlock(int channel);
int FLASH_DOWNLOADER_Erase(int channel, uint32_t address, uint32_t length);
int FLASH_DOWNLOADER_Close(int channel);
int FLASH_DOWNLOADER_Go(int channel);
// The unlock at the start of a channel's exchange: waits, bounded by what an
// earlier stopped session can have left on the line at the channel's speed,
// until the handset answers in step with this one; nothing for a handset that
// is in step already. On failure the close command goes, as for the unlock.
int FLASH_DOWNLOADER_UnlockInStep(int channel);

// Polls allowed for an erase of length bytes: one per whole 4 KiB, at least 10.
int FLASH_DOWNLOADER_ErasePolls(uint32_t length);
