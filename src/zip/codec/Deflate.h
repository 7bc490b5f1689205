// The deflate compressor: turns the bytes of one archive entry into a raw
// deflate stream (RFC 1951, no wrapper), as the zip writer packs its entries.
//
// The output is fully defined by the input bytes and the level: the same
// input at the same level always gives the same bytes, on every build and
// whether the compressor is fresh or has packed other entries before.
// (The source is expected to deliver as many bytes as asked until its end, as
// a file does; a source that answers short reads still yields a valid stream
// of its bytes, though not necessarily the same one.)
//
// Thread safety: one TDeflater compresses one entry at a time; separate
// objects may run on separate threads.
#pragma once

#include <cstdint>
#include <memory>

#include "zip/codec/CodecIO.h"

namespace nuva {

// The entry fields the compressor reads and sets.
struct TDeflateEntry {
    // 2 = not yet known (the writer's value before packing); the compressor
    // sets 1 (text) or 0 (binary) from the entry's first block.
    uint16_t internalAttributes = 2;
    // General purpose flags: the compressor ORs in 4 at levels 1 and 2 and 2
    // at levels 8 and 9; other bits are left as they are.
    uint16_t flags = 0;
    // 8 (deflated). The compressor switches it to 0 (stored) when the whole
    // entry forms a single block that is not larger kept raw; the bytes
    // written are then the raw input.
    uint16_t method = 8;
};

class TDeflater {
  public:
    // Allocates the working memory (about 600 KiB once levels 1-3 and 4-9
    // have both run) as it is first needed and clears only what an entry
    // reaches, so a fresh object packing a small entry touches little of it;
    // the object can then pack any number of entries.
    TDeflater();
    ~TDeflater();
    TDeflater(const TDeflater&) = delete;
    TDeflater& operator=(const TDeflater&) = delete;

    // Compresses everything `source` delivers (until its Read returns 0) at
    // `level` (1 fastest .. 9 smallest; values outside are taken as the
    // nearest of 1 and 9) and hands the result to `out`. Returns the number
    // of bytes handed over. Sets `entry`'s fields as described there.
    // Exceptions from `source` or `out` pass through unchanged; the object
    // stays usable for the next entry.
    int64_t Run(TCodecInput& source, TCodecOutput& out, int level, TDeflateEntry& entry);

  private:
    struct TState;
    std::unique_ptr<TState> state_;
};

}  // namespace nuva
