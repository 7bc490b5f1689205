// The bit input of inflate and explode: compressed bytes pulled from a
// `TCodecInput` into a local buffer and handed out least significant bit
// first through a 64-bit bit buffer.
//
// End of input: once the input stage reports that the entry's compressed
// bytes are used up, kEndPadding zero bytes follow the real ones and nothing
// more; a decoder that wants bits beyond those fails. `ConsumedPastEnd()`
// tells whether a decoder used any of the padding bits, which makes a
// truncated stream that happens to end inside the padding fail as well.
//
// An input stage that offers a view of its bytes is read in place: the bit
// buffer loads straight from the view and whole bytes are copied from it
// once; only the view's last few bytes move to the local buffer, where the
// padding follows them.
//
// One object serves one stream at a time (`Start`); not shared between
// threads.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>

#include "zip/codec/CodecIO.h"

namespace nuva {

class TBitInput {
  public:
    static constexpr size_t kBufferSize = 32768;    // bytes asked of the input stage at most
    static constexpr size_t kEndPadding = 8;        // zero bytes supplied after the real input
    static constexpr size_t kDirectReadMin = 4096;  // bytes worth reading past the buffer

    // Allocates the buffer (std::bad_alloc passes on).
    TBitInput() : buffer_(new uint8_t[kBufferSize + kEndPadding]) { Start(nullptr); }
    // Starts reading a new stream from `input`.
    void Start(TCodecInput* input) {
        input_ = input;
        next_ = end_ = realEnd_ = buffer_.get();
        bits_ = 0;
        count_ = 0;
        ended_ = (input == nullptr);
        viewing_ = false;
        if (input != nullptr) {
            size_t size = 0;
            const uint8_t* view = input->View(size);
            if (view != nullptr && size > 0) {
                viewing_ = true;
                next_ = view;
                realEnd_ = end_ = view + size;
            }
        }
    }
    TBitInput(const TBitInput&) = delete;
    TBitInput& operator=(const TBitInput&) = delete;

    // Makes at least `n` (<= 57) bits available; false when the real input and
    // the zero padding cannot supply them.
    bool Need(unsigned n) {
        while (count_ < n) {
            if (next_ == end_) {
                if (ended_) return false;
                Fill();
                continue;
            }
            bits_ |= uint64_t(*next_++) << count_;
            count_ += 8;
        }
        return true;
    }
    uint32_t Peek(unsigned n) const { return uint32_t(bits_ & ((uint64_t(1) << n) - 1)); }
    void Drop(unsigned n) {
        bits_ >>= n;
        count_ -= n;
    }
    // Need + Peek + Drop; false at the end of the input.
    bool Take(unsigned n, uint32_t& value) {
        if (!Need(n)) return false;
        value = Peek(n);
        Drop(n);
        return true;
    }
    // Discards the bits up to the next byte boundary.
    void AlignToByte() { Drop(count_ & 7); }

    // True when the real bytes (not the padding) in the local buffer allow
    // `RefillFast` to load eight bytes at once; asks the input stage for more
    // when fewer than eight are left and the input has not ended.
    bool CanRefillFast() {
        if (end_ - next_ >= 8) return true;
        if (!ended_) Fill();
        return end_ - next_ >= 8;
    }
    // Tops the bit buffer up to 56..63 bits with one unaligned load. Bits
    // above the count are copies of the bytes still ahead, so later byte-wise
    // refills OR the same values in again.
    void RefillFast() {
        uint64_t word;
        std::memcpy(&word, next_, 8);
        bits_ |= word << count_;
        next_ += (63 - count_) >> 3;
        count_ |= 56;
    }

    // Whole bytes: the bytes left in the bit buffer first, then the buffer.
    // Copies up to `n` bytes into `dest` and returns how many came (0 at the
    // end of the real input; padding bytes are never handed out here).
    size_t ReadBytes(uint8_t* dest, size_t n);

    // True when decoding consumed bits of the zero padding.
    bool ConsumedPastEnd() const {
        if (!ended_ || next_ <= realEnd_) return false;
        return uint64_t(next_ - realEnd_) * 8 > count_;
    }

    // Direct access for the decoding loops, which keep the state in locals.
    uint64_t bits_ = 0;
    unsigned count_ = 0;
    const uint8_t* next_;
    const uint8_t* end_;

  private:
    // Moves the unread bytes (fewer than 8 when reading a view) to the start
    // of the local buffer and asks the stage for more.
    void Fill();
    void MarkEnded();  // the stage reported the end: the padding follows realEnd_

    TCodecInput* input_ = nullptr;
    std::unique_ptr<uint8_t[]> buffer_;
    const uint8_t* realEnd_;
    bool ended_ = false;
    bool viewing_ = false;  // next_..end_ lie in the stage's view, not in buffer_
};

inline void TBitInput::Fill() {
    uint8_t* base = buffer_.get();
    size_t tail = size_t(end_ - next_);
    std::memmove(base, next_, tail);
    if (viewing_) {
        // The view was the whole input: its last bytes, then the padding.
        viewing_ = false;
        next_ = base;
        realEnd_ = end_ = base + tail;
        MarkEnded();
        return;
    }
    size_t got = input_->Read(base + tail, kBufferSize - tail);
    if (got > kBufferSize - tail) got = kBufferSize - tail;  // a stage that claims too much
    next_ = base;
    realEnd_ = end_ = base + tail + got;
    if (got == 0) MarkEnded();
}

inline void TBitInput::MarkEnded() {
    ended_ = true;
    std::memset(const_cast<uint8_t*>(realEnd_), 0, kEndPadding);
    end_ = realEnd_ + kEndPadding;
}

inline size_t TBitInput::ReadBytes(uint8_t* dest, size_t n) {
    size_t done = 0;
    bits_ &= count_ >= 64 ? ~uint64_t(0) : (uint64_t(1) << count_) - 1;
    // Bytes of the bit buffer that came from the padding are not data.
    size_t padInBuffer = (ended_ && next_ > realEnd_) ? size_t(next_ - realEnd_) : 0;
    while (done < n && count_ >= 8) {
        if (padInBuffer * 8 >= count_) return done;
        dest[done++] = uint8_t(bits_);
        Drop(8);
    }
    while (done < n) {
        if (next_ >= realEnd_) {
            if (ended_) return done;
            if (!viewing_ && n - done >= kDirectReadMin) {
                // A long run of bytes goes straight to the destination.
                size_t got = input_->Read(dest + done, n - done);
                if (got > n - done) got = n - done;
                if (got == 0) {
                    next_ = realEnd_ = buffer_.get();
                    MarkEnded();
                    return done;
                }
                done += got;
                continue;
            }
            Fill();
            continue;
        }
        size_t chunk = size_t(realEnd_ - next_);
        if (chunk > n - done) chunk = n - done;
        std::memcpy(dest + done, next_, chunk);
        next_ += chunk;
        done += chunk;
    }
    return done;
}

}  // namespace nuva
