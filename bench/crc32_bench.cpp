// CRC-32 throughput: ours against zlib's crc32 over the same 64 MiB buffer
// in the same run. Both must agree on the value.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "zip/Crc32.h"

namespace {

constexpr size_t kBytes = 64u << 20;  // 64 MiB

const std::string& Buffer() {
    static const std::string data = [] {
        std::string s(kBytes, '\0');
        uint64_t x = 0x9E3779B97F4A7C15ull;
        for (char& c : s) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            c = static_cast<char>(x);
        }
        const uint32_t ours = nuva::Crc32(s.data(), s.size());
        const uint32_t theirs = static_cast<uint32_t>(
            crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(s.data()),
                  static_cast<uInt>(s.size())));
        if (ours != theirs) {
            std::fprintf(stderr, "CRC mismatch: ours %08x, zlib %08x\n", ours, theirs);
            std::exit(1);
        }
        return s;
    }();
    return data;
}

void BM_Crc32_Nuva(benchmark::State& state) {
    const std::string& s = Buffer();
    for (auto _ : state) benchmark::DoNotOptimize(nuva::Crc32(s.data(), s.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(s.size()));
}

// The table path alone, as on processors without carry-less multiplication.
void BM_Crc32_Nuva_Table(benchmark::State& state) {
    const std::string& s = Buffer();
    for (auto _ : state)
        benchmark::DoNotOptimize(
            ~nuva::Crc32UpdatePortable(nuva::kCrc32Preset, s.data(), s.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(s.size()));
}

void BM_Crc32_Zlib(benchmark::State& state) {
    const std::string& s = Buffer();
    for (auto _ : state)
        benchmark::DoNotOptimize(
            crc32(0, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(s.size()));
}

// Small pieces, as the extractor hands over 32 KiB windows.
void BM_Crc32_Nuva_32KiB(benchmark::State& state) {
    const std::string& s = Buffer();
    for (auto _ : state) {
        uint32_t c = nuva::kCrc32Preset;
        for (size_t i = 0; i < s.size(); i += 32768) c = nuva::Crc32Update(c, s.data() + i, 32768);
        benchmark::DoNotOptimize(c);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(s.size()));
}

void BM_Crc32_Zlib_32KiB(benchmark::State& state) {
    const std::string& s = Buffer();
    for (auto _ : state) {
        uLong c = 0;
        for (size_t i = 0; i < s.size(); i += 32768)
            c = crc32(c, reinterpret_cast<const Bytef*>(s.data() + i), 32768);
        benchmark::DoNotOptimize(c);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(s.size()));
}

}  // namespace

BENCHMARK(BM_Crc32_Nuva)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Crc32_Nuva_Table)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Crc32_Zlib)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Crc32_Nuva_32KiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Crc32_Zlib_32KiB)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
