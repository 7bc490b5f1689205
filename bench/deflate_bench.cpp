// Our deflate compressor against zlib (raw deflate, windowBits -15,
// memLevel 8) and libdeflate's whole-buffer compressor (a reference for
// speed only: its levels trade differently) at levels 1, 6 and 9: per corpus
// file, for the 1000 small
// files as one group (one entry each, one reused compressor, as the zip
// writer packs them), and for the whole corpus. Reports MB/s of
// uncompressed input and the compressed ratio (compressed / input).
// "fresh 1 KiB" packs 1 KiB slices of one XML file at level 6, each with a
// compressor made and freed for it (ours: a new TDeflater; zlib:
// deflateInit2/deflate/deflateEnd; libdeflate: alloc/compress/free), the
// cost of a one-off small entry. "reused 1 KiB" packs the same 256 slices
// at each level through one reused compressor (ours, zlib's after
// deflateReset, libdeflate's), as the zip writer packs many small items.
//
//   scripts/bench.sh deflate_bench
//   NUVA_CORPUS=/path/to/corpus build/release/bin/deflate_bench --benchmark_filter=L6/
#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "zip/codec/Deflate.h"
#include "zip/codec/MemoryStages.h"

namespace {

using nuva::TCodecOutput;

struct TItem {
    std::string name;
    std::vector<std::string> files;  // each compressed as its own entry
    size_t bytes = 0;
};

// Copies into a preallocated buffer, as zlib writes into its output buffer.
class TBufferSink : public TCodecOutput {
  public:
    explicit TBufferSink(std::vector<uint8_t>& buffer) : buffer_(buffer) {}
    void Write(const uint8_t* data, size_t count) override {
        if (fill_ + count > buffer_.size()) buffer_.resize((fill_ + count) * 2);
        std::memcpy(buffer_.data() + fill_, data, count);
        fill_ += count;
    }

  private:
    std::vector<uint8_t>& buffer_;
    size_t fill_ = 0;
};

size_t CompressOurs(nuva::TDeflater& deflater, const std::string& input, int level,
                    std::vector<uint8_t>& buffer) {
    nuva::TSpanInput source(input);
    TBufferSink sink(buffer);
    nuva::TDeflateEntry entry;
    return static_cast<size_t>(deflater.Run(source, sink, level, entry));
}

size_t CompressZlib(z_stream& z, const std::string& input, std::vector<uint8_t>& buffer) {
    deflateReset(&z);
    const size_t bound = deflateBound(&z, input.size());
    if (buffer.size() < bound) buffer.resize(bound);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
    z.avail_in = static_cast<uInt>(input.size());
    z.next_out = buffer.data();
    z.avail_out = static_cast<uInt>(buffer.size());
    if (deflate(&z, Z_FINISH) != Z_STREAM_END) {
        std::fprintf(stderr, "zlib deflate did not finish\n");
        std::exit(2);
    }
    return z.total_out;
}

size_t CompressLibdeflate(libdeflate_compressor* c, const std::string& input,
                          std::vector<uint8_t>& buffer) {
    const size_t bound = libdeflate_deflate_compress_bound(c, input.size());
    if (buffer.size() < bound) buffer.resize(bound);
    const size_t n =
        libdeflate_deflate_compress(c, input.data(), input.size(), buffer.data(), buffer.size());
    if (n == 0) {
        std::fprintf(stderr, "libdeflate compress did not fit its own bound\n");
        std::exit(2);
    }
    return n;
}

std::map<std::string, std::string>& Contents() {
    static std::map<std::string, std::string> contents;
    return contents;
}

enum class TPeer { kNuva, kZlib, kLibdeflate };

void RunItem(benchmark::State& state, const TItem& item, int level, TPeer peer) {
    std::vector<uint8_t> buffer(1 << 20);
    nuva::TDeflater deflater;
    z_stream z{};
    if (peer == TPeer::kZlib) deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    libdeflate_compressor* ld =
        peer == TPeer::kLibdeflate ? libdeflate_alloc_compressor(level) : nullptr;
    size_t compressed = 0;
    for (auto _ : state) {
        compressed = 0;
        for (const std::string& file : item.files) {
            const std::string& input = Contents()[file];
            switch (peer) {
                case TPeer::kNuva:
                    compressed += CompressOurs(deflater, input, level, buffer);
                    break;
                case TPeer::kZlib:
                    compressed += CompressZlib(z, input, buffer);
                    break;
                case TPeer::kLibdeflate:
                    compressed += CompressLibdeflate(ld, input, buffer);
                    break;
            }
        }
        benchmark::DoNotOptimize(buffer.data());
    }
    if (peer == TPeer::kZlib) deflateEnd(&z);
    if (ld != nullptr) libdeflate_free_compressor(ld);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(item.bytes));
    state.counters["ratio"] = item.bytes ? static_cast<double>(compressed) / item.bytes : 0.0;
    state.counters["compressed"] = static_cast<double>(compressed);
}

constexpr size_t kSliceSize = 1024;  // bytes per fresh entry
constexpr size_t kSlices = 256;      // slices per iteration

void RunFresh(benchmark::State& state, const std::string& file, TPeer peer) {
    const int level = 6;
    const std::string& content = Contents()[file];
    std::vector<std::string> slices;
    for (size_t at = 0; at + kSliceSize <= content.size() && slices.size() < kSlices;
         at += kSliceSize)
        slices.push_back(content.substr(at, kSliceSize));
    std::vector<uint8_t> buffer(1 << 16);
    size_t compressed = 0;
    size_t bytes = 0;
    for (auto _ : state) {
        compressed = 0;
        bytes = 0;
        for (const std::string& input : slices) {
            bytes += input.size();
            switch (peer) {
                case TPeer::kNuva: {
                    nuva::TDeflater deflater;
                    compressed += CompressOurs(deflater, input, level, buffer);
                    break;
                }
                case TPeer::kZlib: {
                    z_stream z{};
                    deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
                    compressed += CompressZlib(z, input, buffer);
                    deflateEnd(&z);
                    break;
                }
                case TPeer::kLibdeflate: {
                    libdeflate_compressor* ld = libdeflate_alloc_compressor(level);
                    compressed += CompressLibdeflate(ld, input, buffer);
                    libdeflate_free_compressor(ld);
                    break;
                }
            }
        }
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
    state.counters["ratio"] = bytes ? static_cast<double>(compressed) / bytes : 0.0;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::vector<TItem> items;
    TItem small{"small (1000 files)", {}, 0};
    TItem whole{"whole corpus", {}, 0};
    for (const std::string& name : nuva::bench::ListCorpus()) {
        Contents()[name] = nuva::bench::LoadCorpusFile(name);
        const size_t size = Contents()[name].size();
        whole.files.push_back(name);
        whole.bytes += size;
        if (name.rfind("small/", 0) == 0) {
            small.files.push_back(name);
            small.bytes += size;
        } else {
            items.push_back({name, {name}, size});
        }
    }
    if (whole.files.empty()) {
        std::fprintf(stderr, "no corpus files in %s\n", nuva::bench::CorpusDir().c_str());
        return 2;
    }
    if (!small.files.empty()) items.push_back(small);
    const std::string freshFile = "xml_gbk_1m.xml";
    if (Contents().count(freshFile) != 0) {
        TItem slices{"reused 1 KiB", {}, 0};
        const std::string content = Contents()[freshFile];
        for (size_t at = 0; at + kSliceSize <= content.size() && slices.files.size() < kSlices;
             at += kSliceSize) {
            const std::string name = "slice/" + std::to_string(at / kSliceSize);
            Contents()[name] = content.substr(at, kSliceSize);
            slices.files.push_back(name);
            slices.bytes += kSliceSize;
        }
        items.push_back(slices);
    }
    items.push_back(whole);
    for (int level : {1, 6, 9}) {
        for (const TItem& item : items) {
            for (TPeer peer : {TPeer::kNuva, TPeer::kZlib, TPeer::kLibdeflate}) {
                const char* peerName = peer == TPeer::kNuva   ? "nuva"
                                       : peer == TPeer::kZlib ? "zlib"
                                                              : "libdeflate";
                const std::string name =
                    std::string(peerName) + "/L" + std::to_string(level) + "/" + item.name;
                benchmark::RegisterBenchmark(name.c_str(), [item, level,
                                                            peer](benchmark::State& s) {
                    RunItem(s, item, level, peer);
                })->Unit(benchmark::kMillisecond);
            }
        }
    }
    if (Contents().count(freshFile) != 0) {
        for (TPeer peer : {TPeer::kNuva, TPeer::kZlib, TPeer::kLibdeflate}) {
            const char* peerName = peer == TPeer::kNuva   ? "nuva"
                                   : peer == TPeer::kZlib ? "zlib"
                                                          : "libdeflate";
            const std::string name = std::string(peerName) + "/L6/fresh 1 KiB";
            benchmark::RegisterBenchmark(name.c_str(), [freshFile, peer](benchmark::State& s) {
                RunFresh(s, freshFile, peer);
            })->Unit(benchmark::kMicrosecond);
        }
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
