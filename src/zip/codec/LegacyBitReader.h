// The bit reader of the shrink and reduce decoders: up to 16 bits at a time,
// least significant bit first, with an end flag.
//
// A read that finds fewer bits than it asks for sets the end flag, returns
// the bits that were left with zeros above them and leaves the bit count at
// 0; it never counts below zero. A read that finds enough bits clears the
// flag.
//
// One object serves one stream; not shared between threads.
#pragma once

#include <cstdint>
#include <memory>

#include "zip/codec/CodecIO.h"

namespace nuva {

class TLegacyBitReader {
  public:
    static constexpr size_t kBufferSize = 32768;  // bytes asked of the input stage at most

    // Allocates the buffer (std::bad_alloc passes on).
    explicit TLegacyBitReader(TCodecInput& input)
        : input_(input), buffer_(new uint8_t[kBufferSize]) {}
    TLegacyBitReader(const TLegacyBitReader&) = delete;
    TLegacyBitReader& operator=(const TLegacyBitReader&) = delete;

    // The next `n` (1..16) bits.
    uint32_t Read(unsigned n) {
        if (count_ < n) {
            while (count_ <= 24) {
                if (next_ == end_ && !Fill()) break;
                bits_ |= uint32_t(*next_++) << count_;
                count_ += 8;
            }
            if (count_ < n) {
                ended_ = true;
                uint32_t value = bits_;  // the bits left, zeros above them
                bits_ = 0;
                count_ = 0;
                return value;
            }
        }
        ended_ = false;
        uint32_t value = bits_ & ((uint32_t(1) << n) - 1);
        bits_ >>= n;
        count_ -= n;
        return value;
    }
    // True when the last read came up short.
    bool Ended() const { return ended_; }

  private:
    bool Fill() {
        if (inputEnded_) return false;
        size_t got = input_.Read(buffer_.get(), kBufferSize);
        if (got > kBufferSize) got = kBufferSize;
        if (got == 0) {
            inputEnded_ = true;
            return false;
        }
        next_ = buffer_.get();
        end_ = next_ + got;
        return true;
    }

    TCodecInput& input_;
    std::unique_ptr<uint8_t[]> buffer_;
    const uint8_t* next_ = nullptr;
    const uint8_t* end_ = nullptr;
    uint32_t bits_ = 0;
    unsigned count_ = 0;
    bool ended_ = false;
    bool inputEnded_ = false;
};

}  // namespace nuva
