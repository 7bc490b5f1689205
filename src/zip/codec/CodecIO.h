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

    // A stage whose input already sits in memory may hand all of the rest
    // over at once: returns it and sets `size`, and counts it as read (the
    // next `Read` reports the end). The bytes stay in place until the
    // decoder returns. The default, nullptr, means bytes come only by `Read`.
    virtual const uint8_t* View(size_t& size) {
        size = 0;
        return nullptr;
    }
};

class TCodecOutput {
  public:
    virtual ~TCodecOutput() = default;
    // Takes `count` produced bytes. Decoders hand over their window in pieces
    // of at most 32768 bytes.
    virtual void Write(const uint8_t* data, size_t count) = 0;

    // A stage that gathers the whole output in one memory buffer may lend
    // the free part of it: returns where the next byte goes and sets
    // `capacity` to how many bytes may be written there, or returns nullptr
    // (the default) to take copies through `Write` only. Asked once, when a
    // decoder starts; the stage keeps the buffer in place until the decoder
    // returns.
    virtual uint8_t* Lend(size_t& capacity) {
        capacity = 0;
        return nullptr;
    }
    // After a loan: the next `count` bytes of the lent buffer now hold output
    // (called in order, before any `Write` that follows them). A decoder may
    // also have scribbled on bytes past those it reports, within the loan.
    virtual void Placed(size_t count) { (void)count; }
};

}  // namespace nuva
