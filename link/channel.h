// Channels CH0..CH7: every per-channel table of the link and the engine is an
// array of eight indexed by the channel number.
#pragma once

#include <atomic>

inline constexpr int kChannelCount = 8;

// 1 while the channel takes part in the running session; cleared (by the
// window thread) to stop it. Every wait of the link ends once it is 0.
extern std::atomic<int> channelActive[kChannelCount];

inline bool IsChannel(int channel) {
    return channel >= 0 && channel < kChannelCount;
}
