// The frame codec's cost: FCS over 16 KiB, framing the largest write packet
// into a memory sink, and deframing it again. Throughput is reported as
// bytes of packet per second.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "link/frame.h"

namespace {

constexpr int kCh = 0;
constexpr int kPacketSize = 16394;  // sequence, write header, 16 KiB data, FCS

std::vector<uint8_t> TypicalData(size_t size) {
    std::mt19937 random(42);
    std::vector<uint8_t> data(size);
    for (auto& b : data)
        b = static_cast<uint8_t>(random());
    return data;
}

std::vector<uint8_t> g_sink;
int32_t SinkWrite(int, const uint8_t* buffer, int offset, int length) {
    g_sink.insert(g_sink.end(), buffer + offset, buffer + offset + length);
    return length;
}

int g_framesSeen = 0;
void CountFrame(int, const uint8_t*, int, int) {
    ++g_framesSeen;
}

void BM_Fcs16KiB(benchmark::State& state) {
    auto data = TypicalData(16384);
    for (auto _ : state) {
        benchmark::DoNotOptimize(CRC16_Compute(data.data(), static_cast<int>(data.size())));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 16384);
}
BENCHMARK(BM_Fcs16KiB);

void BM_FrameSend(benchmark::State& state) {
    auto packet = TypicalData(kPacketSize);
    FRAME_SetWriter(&SinkWrite);
    FRAME_Reset(kCh);
    g_sink.reserve(2 * kPacketSize + 8);
    for (auto _ : state) {
        g_sink.clear();
        FRAME_Send(kCh, packet.data(), 0, kPacketSize);
        benchmark::DoNotOptimize(g_sink.data());
    }
    FRAME_SetWriter(nullptr);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kPacketSize);
}
BENCHMARK(BM_FrameSend);

void BM_FrameParse(benchmark::State& state) {
    auto packet = TypicalData(kPacketSize);
    FRAME_SetWriter(&SinkWrite);
    FRAME_Reset(kCh);
    g_sink.clear();
    FRAME_Send(kCh, packet.data(), 0, kPacketSize);
    FRAME_SetWriter(nullptr);
    const std::vector<uint8_t> wire = g_sink;
    g_framesSeen = 0;
    FRAME_SetReceiver(&CountFrame);
    for (auto _ : state) {
        FRAME_Parse(kCh, wire.data(), 0, static_cast<int>(wire.size()));
    }
    FRAME_SetReceiver(nullptr);
    if (g_framesSeen != static_cast<int>(state.iterations())) state.SkipWithError("frames lost");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kPacketSize);
}
BENCHMARK(BM_FrameParse);

}  // namespace

BENCHMARK_MAIN();
