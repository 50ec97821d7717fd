// Channels CH0..CH7. Each layer of the link keeps what it holds per channel
// in one record per channel (the codec's FrameChannel, the packet window's
// PacketChannel, the port's SerialChannel), so that one channel can be reset
// and started while the others run. The fields are read by their old names:
// txStageLen[channel] is the txStageLen of the channel's codec record.
#pragma once

#include <atomic>

inline constexpr int kChannelCount = 8;

inline bool IsChannel(int channel) {
    return channel >= 0 && channel < kChannelCount;
}

// A field of a layer's per-channel records seen as an array indexed by the
// channel: name[channel] is the field of that channel's record.
template <auto& Records, auto Member>
struct ChannelField {
    auto& operator[](int channel) const { return Records[channel].*Member; }
};

// The same for a field reached through a function of the channel.
template <auto Of>
struct ChannelFieldOf {
    auto& operator[](int channel) const { return Of(channel); }
};

// 1 while the channel takes part in the running session; cleared (by the
// window thread) to stop it. Every wait of the link ends once it is 0. It is
// part of the channel's port record.
std::atomic<int>& SERIAL_ChannelActive(int channel);
inline constexpr ChannelFieldOf<&SERIAL_ChannelActive> channelActive{};
