// Inflate throughput: our decoder against zlib's raw inflate and
// libdeflate's whole-buffer decompressor, per corpus file, on streams that
// zlib made at level 6. The small files are measured as one item (every file
// decoded once per iteration). After the runs a table gives MB/s (of decoded
// output) for each and the ratios, per item and for the whole corpus (total
// bytes over total time).
//
//   NUVA_CORPUS=/work/corpus build/release/bin/inflate_bench
#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "zip/codec/Inflate.h"
#include "zip/codec/MemoryStages.h"

namespace {

struct TItem {
    std::string name;
    std::vector<std::string> plain;
    std::vector<std::string> packed;
    size_t bytes = 0;
};

std::string DeflateRaw(const std::string& data) {
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, uLong(data.size())) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef*>(&out[0]);
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// Appends into a buffer allocated once. With `lend` it lends the buffer, so
// the decoder writes in place (with a viewed input, the counterpart of zlib's
// one call over whole buffers); without, every piece is copied in (as an
// extractor's file buffer takes them).
class TBufferOutput : public nuva::TCodecOutput {
  public:
    TBufferOutput(std::vector<uint8_t>& buffer, bool lend) : buffer_(buffer), lend_(lend) {}
    void Write(const uint8_t* data, size_t count) override {
        if (size_ + count > buffer_.size()) std::abort();
        std::memcpy(buffer_.data() + size_, data, count);
        size_ += count;
    }
    uint8_t* Lend(size_t& capacity) override {
        capacity = lend_ ? buffer_.size() - size_ : 0;
        return lend_ ? buffer_.data() + size_ : nullptr;
    }
    void Placed(size_t count) override { size_ += count; }
    size_t size_ = 0;

  private:
    std::vector<uint8_t>& buffer_;
    bool lend_;
};

void RunNuva(benchmark::State& state, const TItem* item, bool whole) {
    size_t largest = 0;
    for (const auto& p : item->plain) largest = std::max(largest, p.size());
    std::vector<uint8_t> buffer(largest + 1);
    nuva::TInflater inflater;
    for (auto _ : state) {
        for (size_t i = 0; i < item->packed.size(); ++i) {
            nuva::TSpanInput in(item->packed[i], /*offerView=*/whole);
            TBufferOutput out(buffer, whole);
            if (inflater.Run(in, out) != 0 || out.size_ != item->plain[i].size()) {
                state.SkipWithError("decode failed");
                return;
            }
        }
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(item->bytes));
}

void BM_Nuva(benchmark::State& state, const TItem* item) {
    RunNuva(state, item, true);
}
void BM_NuvaStaged(benchmark::State& state, const TItem* item) {
    RunNuva(state, item, false);
}

void BM_Zlib(benchmark::State& state, const TItem* item) {
    size_t largest = 0;
    for (const auto& p : item->plain) largest = std::max(largest, p.size());
    std::vector<uint8_t> buffer(largest + 1);
    z_stream z{};
    inflateInit2(&z, -15);
    for (auto _ : state) {
        for (size_t i = 0; i < item->packed.size(); ++i) {
            inflateReset(&z);
            z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(item->packed[i].data()));
            z.avail_in = uInt(item->packed[i].size());
            z.next_out = buffer.data();
            z.avail_out = uInt(buffer.size());
            if (inflate(&z, Z_FINISH) != Z_STREAM_END) {
                state.SkipWithError("zlib decode failed");
                return;
            }
        }
        benchmark::DoNotOptimize(buffer.data());
    }
    inflateEnd(&z);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(item->bytes));
}

// libdeflate decodes whole buffers only: one call per stream, the output
// written in place.
void BM_Libdeflate(benchmark::State& state, const TItem* item) {
    size_t largest = 0;
    for (const auto& p : item->plain) largest = std::max(largest, p.size());
    std::vector<uint8_t> buffer(largest + 1);
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    for (auto _ : state) {
        for (size_t i = 0; i < item->packed.size(); ++i) {
            size_t got = 0;
            if (libdeflate_deflate_decompress(d, item->packed[i].data(), item->packed[i].size(),
                                              buffer.data(), buffer.size(),
                                              &got) != LIBDEFLATE_SUCCESS ||
                got != item->plain[i].size()) {
                state.SkipWithError("libdeflate decode failed");
                libdeflate_free_decompressor(d);
                return;
            }
        }
        benchmark::DoNotOptimize(buffer.data());
    }
    libdeflate_free_decompressor(d);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(item->bytes));
}

// zlib used the way an extractor would drive it through the same stages as
// ours: compressed bytes copied in 32 KiB at a time, output handed to the
// same sink in 32 KiB pieces.
void BM_ZlibStaged(benchmark::State& state, const TItem* item) {
    size_t largest = 0;
    for (const auto& p : item->plain) largest = std::max(largest, p.size());
    std::vector<uint8_t> buffer(largest + 1);
    std::vector<uint8_t> inBuf(32768), outBuf(32768);
    z_stream z{};
    inflateInit2(&z, -15);
    for (auto _ : state) {
        for (size_t i = 0; i < item->packed.size(); ++i) {
            inflateReset(&z);
            nuva::TSpanInput in(item->packed[i], /*offerView=*/false);
            TBufferOutput out(buffer, false);
            int r = Z_OK;
            while (r == Z_OK) {
                if (z.avail_in == 0) {
                    z.avail_in = uInt(in.Read(inBuf.data(), inBuf.size()));
                    z.next_in = inBuf.data();
                }
                z.next_out = outBuf.data();
                z.avail_out = uInt(outBuf.size());
                r = inflate(&z, Z_NO_FLUSH);
                out.Write(outBuf.data(), outBuf.size() - z.avail_out);
                if (r == Z_BUF_ERROR && z.avail_in == 0) break;
            }
            if (r != Z_STREAM_END) {
                state.SkipWithError("zlib decode failed");
                return;
            }
        }
        benchmark::DoNotOptimize(buffer.data());
    }
    inflateEnd(&z);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(item->bytes));
}

// Keeps bytes per second per run name for the summary.
class TSummaryReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            auto it = r.counters.find("bytes_per_second");
            if (it != r.counters.end()) rates[r.benchmark_name()] = it->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> rates;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::vector<TItem> items;
    TItem small;
    small.name = "small/*";
    for (const std::string& name : nuva::bench::ListCorpus()) {
        std::string data = nuva::bench::LoadCorpusFile(name);
        TItem* target = &small;
        if (name.rfind("small/", 0) != 0) {
            items.emplace_back();
            target = &items.back();
            target->name = name;
        }
        target->packed.push_back(DeflateRaw(data));
        target->bytes += data.size();
        target->plain.push_back(std::move(data));
    }
    if (!small.plain.empty()) items.push_back(std::move(small));
    if (items.empty()) {
        std::fprintf(stderr, "empty corpus at %s\n", nuva::bench::CorpusDir().c_str());
        return 2;
    }
    for (const TItem& item : items) {
        benchmark::RegisterBenchmark(("nuva/" + item.name).c_str(), BM_Nuva, &item);
        benchmark::RegisterBenchmark(("zlib/" + item.name).c_str(), BM_Zlib, &item);
        benchmark::RegisterBenchmark(("libdeflate/" + item.name).c_str(), BM_Libdeflate, &item);
        benchmark::RegisterBenchmark(("nuva-staged/" + item.name).c_str(), BM_NuvaStaged, &item);
        benchmark::RegisterBenchmark(("zlib-staged/" + item.name).c_str(), BM_ZlibStaged, &item);
    }
    TSummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    // Whole buffers: one call each, the output written in place. Staged: 32 KiB
    // of input at a time, the output copied out in 32 KiB pieces (libdeflate
    // has no such mode).
    constexpr int kKinds = 5;
    const char* kinds[kKinds] = {"nuva/", "zlib/", "libdeflate/", "nuva-staged/", "zlib-staged/"};
    std::printf("\n%-20s %10s %9s %9s %9s %6s %6s   %9s %9s %6s\n", "item", "bytes", "nuva", "zlib",
                "libdefl", "/zlib", "/libd", "nuva-stg", "zlib-stg", "/zlib");
    auto row = [](const char* name, double bytes, const double* rate) {
        std::printf("%-20s %10.0f %9.1f %9.1f %9.1f %6.2f %6.2f   %9.1f %9.1f %6.2f\n", name, bytes,
                    rate[0] / 1e6, rate[1] / 1e6, rate[2] / 1e6, rate[0] / rate[1],
                    rate[0] / rate[2], rate[3] / 1e6, rate[4] / 1e6, rate[3] / rate[4]);
    };
    double seconds[kKinds] = {}, totalBytes = 0;
    for (const TItem& item : items) {
        double rate[kKinds];
        bool complete = true;
        for (int k = 0; k < kKinds; ++k) {
            rate[k] = reporter.rates[kinds[k] + item.name];
            complete = complete && rate[k] > 0;
        }
        if (!complete) continue;
        row(item.name.c_str(), double(item.bytes), rate);
        for (int k = 0; k < kKinds; ++k) seconds[k] += item.bytes / rate[k];
        totalBytes += item.bytes;
    }
    if (totalBytes > 0) {
        double rate[kKinds];
        for (int k = 0; k < kKinds; ++k) rate[k] = totalBytes / seconds[k];
        row("total", totalBytes, rate);
    }
    std::printf("(MB/s of decoded output; /zlib and /libd: nuva's rate over the peer's)\n");
    benchmark::Shutdown();
    return 0;
}
