// Shared by the codec fuzz targets: memory stages that check the decoders'
// promises (no empty requests, no request after the end, pieces of at most
// 32768 bytes) and stop the process when one is broken.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "zip/codec/CodecIO.h"

namespace nuva::fuzz {

class TFuzzInput : public TCodecInput {
  public:
    TFuzzInput(const uint8_t* data, size_t size, size_t chunk)
        : data_(data), size_(size), chunk_(chunk) {}
    size_t Read(uint8_t* dest, size_t capacity) override {
        if (capacity == 0 || ended_) std::abort();
        size_t n = size_ - pos_;
        if (n > capacity) n = capacity;
        if (n > chunk_) n = chunk_;
        std::memcpy(dest, data_ + pos_, n);
        pos_ += n;
        if (n == 0) ended_ = true;
        return n;
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t chunk_;
    size_t pos_ = 0;
    bool ended_ = false;
};

class TFuzzOutput : public TCodecOutput {
  public:
    void Write(const uint8_t* data, size_t count) override {
        if (count == 0 || count > 32768) std::abort();
        // Touch every byte so that the sanitizers see the whole piece.
        for (size_t i = 0; i < count; ++i) sum_ += data[i];
        total += count;
    }
    uint64_t total = 0;

  private:
    unsigned sum_ = 0;
};

// Input chunk sizes chosen by a control byte: whole, or small pieces.
inline size_t ChunkFor(uint8_t control) {
    static const size_t kChunks[8] = {~size_t(0), 1, 2, 3, 7, 64, 4096, 32768};
    return kChunks[control & 7];
}

}  // namespace nuva::fuzz
