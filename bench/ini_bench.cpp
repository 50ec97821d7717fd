// Reading and writing an image set: the whole file is read and split once
// per load, so the time grows with its size, not with its size times the
// number of keys. Reads are padded with blank lines (the worst case for a
// line-by-line reader), writes with unknown keys that must all be kept.
#include <benchmark/benchmark.h>

#include <unistd.h>
#include <cstdio>
#include <cstring>
#include <string>

#include "config/image_set.h"

namespace {

std::string MakeSet(size_t size, const char* padding = "\n") {
    char pattern[] = "/tmp/kelvane-bench-XXXXXX";
    const int fd = ::mkstemp(pattern);
    std::string text = "[VARKO]\nMTY=0\nCODECHECK=1\nCODEKIND=MDM\nCODEADDRESS=1a0000\n";
    while (text.size() + std::strlen(padding) <= size)
        text += padding;
    text += "FONTADDRESS=800000\n";
    if (fd >= 0) {
        if (::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
            pattern[0] = '\0';
        }
        ::close(fd);
    }
    return pattern;
}

void BM_ReadImageSet(benchmark::State& state) {
    const size_t size = static_cast<size_t>(state.range(0));
    const std::string path = MakeSet(size);
    ImageSet set;
    for (auto _ : state) {
        ReadImageSet(path.c_str(), &set);
        benchmark::DoNotOptimize(set);
    }
    std::remove(path.c_str());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}
BENCHMARK(BM_ReadImageSet)
    ->Arg(64 << 10)
    ->Arg(256 << 10)
    ->Arg(1000 << 10)
    ->Unit(benchmark::kMillisecond);

void BM_WriteImageSet(benchmark::State& state) {
    const size_t size = static_cast<size_t>(state.range(0));
    const std::string path = MakeSet(size, "UNKNOWN=kept\n");
    ImageSet set{};
    ReadImageSet(path.c_str(), &set);
    for (auto _ : state) {
        set.rows[kRowCode].check ^= 1;
        benchmark::DoNotOptimize(WriteImageSet(path.c_str(), set));
    }
    std::remove(path.c_str());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}
BENCHMARK(BM_WriteImageSet)
    ->Arg(64 << 10)
    ->Arg(256 << 10)
    ->Arg(1000 << 10)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
