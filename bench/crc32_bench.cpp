// CRC-32 throughput: ours (the default path and each method this processor
// runs) against zlib's and libdeflate's over the same 64 MiB buffer in the
// same run. All must agree on the value.
#include <benchmark/benchmark.h>
#include <libdeflate.h>
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
        const uint32_t libdeflate = libdeflate_crc32(0, s.data(), s.size());
        if (ours != theirs || ours != libdeflate) {
            std::fprintf(stderr, "CRC mismatch: ours %08x, zlib %08x, libdeflate %08x\n", ours,
                         theirs, libdeflate);
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

// One method alone (the table, as on processors without carry-less
// multiplication; the narrower folds, as on processors without the wider).
void BM_Crc32_Nuva_Method(benchmark::State& state, nuva::TCrc32Method method) {
    if (!nuva::Crc32MethodAvailable(method)) {
        state.SkipWithError("not available on this processor or build");
        return;
    }
    const std::string& s = Buffer();
    for (auto _ : state)
        benchmark::DoNotOptimize(
            ~nuva::Crc32UpdateWith(method, nuva::kCrc32Preset, s.data(), s.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(s.size()));
}

void BM_Crc32_Libdeflate(benchmark::State& state) {
    const std::string& s = Buffer();
    for (auto _ : state) benchmark::DoNotOptimize(libdeflate_crc32(0, s.data(), s.size()));
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

void BM_Crc32_Libdeflate_32KiB(benchmark::State& state) {
    const std::string& s = Buffer();
    for (auto _ : state) {
        uint32_t c = 0;
        for (size_t i = 0; i < s.size(); i += 32768) c = libdeflate_crc32(c, s.data() + i, 32768);
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

// 16 KiB over and over, from the first-level cache: what the computation
// costs where memory does not bound it (the 64 MiB rows wait on memory on
// most machines).
constexpr size_t kInCache = 16384;

void BM_Crc32_Nuva_InCache(benchmark::State& state, nuva::TCrc32Method method) {
    if (!nuva::Crc32MethodAvailable(method)) {
        state.SkipWithError("not available on this processor or build");
        return;
    }
    const std::string& s = Buffer();
    for (auto _ : state)
        benchmark::DoNotOptimize(nuva::Crc32UpdateWith(method, nuva::kCrc32Preset, s.data(), kInCache));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kInCache);
}

void BM_Crc32_Zlib_InCache(benchmark::State& state) {
    const std::string& s = Buffer();
    for (auto _ : state)
        benchmark::DoNotOptimize(crc32(0, reinterpret_cast<const Bytef*>(s.data()), kInCache));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kInCache);
}

void BM_Crc32_Libdeflate_InCache(benchmark::State& state) {
    const std::string& s = Buffer();
    for (auto _ : state) benchmark::DoNotOptimize(libdeflate_crc32(0, s.data(), kInCache));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kInCache);
}

}  // namespace

BENCHMARK(BM_Crc32_Nuva)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Crc32_Nuva_Method, Table, nuva::TCrc32Method::kTable)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Crc32_Nuva_Method, Fold128, nuva::TCrc32Method::kFold128)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Crc32_Nuva_Method, Fold256, nuva::TCrc32Method::kFold256)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Crc32_Nuva_Method, Fold512, nuva::TCrc32Method::kFold512)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Crc32_Zlib)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Crc32_Libdeflate)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Crc32_Nuva_32KiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Crc32_Zlib_32KiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Crc32_Libdeflate_32KiB)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Crc32_Nuva_InCache, Fold128, nuva::TCrc32Method::kFold128);
BENCHMARK_CAPTURE(BM_Crc32_Nuva_InCache, Fold256, nuva::TCrc32Method::kFold256);
BENCHMARK_CAPTURE(BM_Crc32_Nuva_InCache, Fold512, nuva::TCrc32Method::kFold512);
BENCHMARK(BM_Crc32_Zlib_InCache);
BENCHMARK(BM_Crc32_Libdeflate_InCache);
BENCHMARK_MAIN();
