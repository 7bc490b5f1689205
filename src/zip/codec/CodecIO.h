// The two stages between the archive code and a decoder or encoder: where
// compressed (or source) bytes come from and where produced bytes go. The
// extractor and the writer implement them over their streams; tests
// implement them over memory.
//
// Either stage may throw the archive code's exceptions (a premature end of
// the archive, a full disk, a user abort); a codec lets them pass and never
// catches them itself.
#pragma once

#include <cstddef>
#include <cstdint>

namespace nuva {

class TCodecInput {
  public:
    virtual ~TCodecInput() = default;
    // Copies up to `capacity` bytes (always > 0) into `dest` and returns how
    // many; 0 means the data is used up (the entry's compressed size, or the
    // end of the source file).
    virtual size_t Read(uint8_t* dest, size_t capacity) = 0;
};

class TCodecOutput {
  public:
    virtual ~TCodecOutput() = default;
    // Takes `count` produced bytes. Decoders hand over their window in pieces
    // of at most 32768 bytes.
    virtual void Write(const uint8_t* data, size_t count) = 0;
};

}  // namespace nuva
