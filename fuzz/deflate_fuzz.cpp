// Compresses the input (after its first byte, which picks the level 1-9)
// and checks that zlib inflates the result back to it, and that a reused
// compressor writes the same bytes as a fresh one.
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "zip/codec/Deflate.h"
#include "zip/codec/MemoryStages.h"

namespace {

std::vector<uint8_t> Compress(nuva::TDeflater& deflater, const uint8_t* data, size_t size,
                              int level, nuva::TDeflateEntry& entry) {
    nuva::TSpanInput source(data, size);
    nuva::TStringOutput sink;
    const int64_t returned = deflater.Run(source, sink, level, entry);
    if (returned != static_cast<int64_t>(sink.bytes.size())) std::abort();
    return std::vector<uint8_t>(sink.bytes.begin(), sink.bytes.end());
}

void CheckInflatesTo(const std::vector<uint8_t>& compressed, const uint8_t* data, size_t size) {
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) std::abort();
    std::vector<uint8_t> out(size + 1);
    z.next_in = const_cast<Bytef*>(compressed.data());
    z.avail_in = static_cast<uInt>(compressed.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = inflate(&z, Z_FINISH);
    const bool ok = rc == Z_STREAM_END && z.avail_in == 0 && z.total_out == size &&
                    (size == 0 || std::memcmp(out.data(), data, size) == 0);
    inflateEnd(&z);
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const int level = 1 + data[0] % 9;
    ++data;
    --size;
    static nuva::TDeflater reused;
    nuva::TDeflateEntry entry;
    const std::vector<uint8_t> compressed = Compress(reused, data, size, level, entry);
    if (entry.method == 0) {
        if (compressed.size() != size || (size && std::memcmp(compressed.data(), data, size)))
            std::abort();
    } else {
        CheckInflatesTo(compressed, data, size);
    }
    nuva::TDeflater fresh;
    nuva::TDeflateEntry freshEntry;
    if (Compress(fresh, data, size, level, freshEntry) != compressed) std::abort();
    return 0;
}
