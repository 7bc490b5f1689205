// Shared by the codec fuzz targets: memory stages that check the decoders'
// promises (no empty requests, no request after the end, pieces of at most
// 32768 bytes, nothing written past a lent buffer, placed bytes before
// copied ones) and stop the process when one is broken. The output keeps a
// hash of every byte in order, so that two runs can be compared.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "zip/codec/CodecIO.h"
#include "zip/codec/MemoryStages.h"

namespace nuva::fuzz {

class TFuzzInput : public TSpanInput {
  public:
    // Reads of at most `chunk` bytes; with `view`, the whole input as a view.
    TFuzzInput(const uint8_t* data, size_t size, size_t chunk, bool view = false)
        : TSpanInput(data, size, view), chunk_(chunk) {}
    size_t Read(uint8_t* dest, size_t capacity) override {
        if (capacity == 0 || ended_) std::abort();
        const size_t n = TSpanInput::Read(dest, std::min(capacity, chunk_));
        if (n == 0) ended_ = true;
        return n;
    }

  private:
    size_t chunk_;
    bool ended_ = false;
};

class TFuzzOutput : public TCodecOutput {
  public:
    // `loan` > 0: lends a buffer of that many bytes.
    explicit TFuzzOutput(size_t loan = 0) : loan_(loan) {}
    ~TFuzzOutput() override {
        for (size_t i = loan_; i < buffer_.size(); ++i)
            if (buffer_[i] != kGuard) std::abort();  // written past the loan
    }
    void Write(const uint8_t* data, size_t count) override {
        if (count == 0 || count > 32768) std::abort();
        copied_ = true;
        Take(data, count);
    }
    uint8_t* Lend(size_t& capacity) override {
        capacity = loan_;
        if (loan_ == 0) return nullptr;
        buffer_.assign(loan_ + 64, kGuard);
        return buffer_.data();
    }
    void Placed(size_t count) override {
        if (copied_ || placed_ + count > loan_) std::abort();
        Take(buffer_.data() + placed_, count);
        placed_ += count;
    }
    uint64_t total = 0;
    uint64_t hash = 14695981039346656037ull;

  private:
    static constexpr uint8_t kGuard = 0xA5;
    // Touches every byte, so that the sanitizers see the whole piece.
    void Take(const uint8_t* data, size_t count) {
        for (size_t i = 0; i < count; ++i) hash = (hash ^ data[i]) * 1099511628211ull;
        total += count;
    }
    size_t loan_;
    std::vector<uint8_t> buffer_;
    size_t placed_ = 0;
    bool copied_ = false;
};

// Input chunk sizes chosen by a control byte: whole, or small pieces.
inline size_t ChunkFor(uint8_t control) {
    static const size_t kChunks[8] = {~size_t(0), 1, 2, 3, 7, 64, 4096, 32768};
    return kChunks[control & 7];
}

// Bit 3 of the control byte: the input is handed over as one view.
inline bool ViewFor(uint8_t control) {
    return (control & 8) != 0;
}

// Bits 4-5: the size of the buffer the output lends (0: none).
inline size_t LoanFor(uint8_t control) {
    static const size_t kLoans[4] = {0, 4096, 40000, 1 << 20};
    return kLoans[(control >> 4) & 3];
}

}  // namespace nuva::fuzz
