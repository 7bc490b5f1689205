// What an extraction writes, as it writes it: TZipReader hands every piece
// of every file it writes to its `Sink` too, on the calling thread, so that a
// caller can work on the bytes while the rest is still being unpacked.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/Platform.h"

namespace nuva {

class TExtractSink {
  public:
    virtual ~TExtractSink() = default;
    // The file at `path` was created; its bytes follow. What Begin or Add
    // raises ends the extraction as a failure to write would (the file is
    // deleted, End(false) is called).
    virtual void Begin(const AnsiString& path) = 0;
    // The next `count` bytes written into it.
    virtual void Add(const uint8_t* data, size_t count) = 0;
    // The file is closed: `whole` when its length and CRC-32 were those of
    // the entry and it is kept; otherwise it is deleted (or the extraction
    // is ending with an error). Must not raise.
    virtual void End(bool whole) noexcept = 0;
};

}  // namespace nuva
