// Test helpers for the decoders (header-only: every *_test.cpp of the
// directory is one program): memory stages, a bit writer for hand-built
// streams, canonical code assignment, zlib as the oracle, sample data.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "zip/codec/CodecIO.h"

namespace nuva::test {

// Serves `data` in pieces of at most `chunk` bytes and checks the contract:
// every request asks for at least one byte, and nobody asks again after the
// end was reported.
class TMemoryInput : public TCodecInput {
  public:
    explicit TMemoryInput(std::string data, size_t chunk = ~size_t(0))
        : data_(std::move(data)), chunk_(chunk) {}
    size_t Read(uint8_t* dest, size_t capacity) override;
    // With `view` set, the rest of the data is handed over as one view.
    const uint8_t* View(size_t& size) override;
    bool view = false;
    int zeroCapacityRequests = 0;
    int requestsAfterEnd = 0;

  private:
    std::string data_;
    size_t chunk_;
    size_t pos_ = 0;
    bool endReported_ = false;
};

// Collects the output and the size of every piece handed over. With
// `loan` > 0 it lends a buffer of that many bytes, followed by guard bytes
// that must stay untouched, and checks that placed bytes come before copies.
class TMemoryOutput : public TCodecOutput {
  public:
    void Write(const uint8_t* data, size_t count) override;
    uint8_t* Lend(size_t& capacity) override;
    void Placed(size_t count) override;
    // True when nothing was written past the loan and the order held.
    bool LoanRespected() const;

    std::string bytes;
    std::vector<size_t> pieces;
    size_t loan = 0;
    size_t placedBytes = 0;

  private:
    static constexpr size_t kGuard = 64;
    std::vector<uint8_t> loanBuffer_;
    bool copied_ = false;
    bool orderBroken_ = false;
};

// Bits least significant first, as deflate and the old methods pack them.
class TBitWriter {
  public:
    void Put(uint32_t value, unsigned bits);
    // A prefix code: its most significant bit goes first.
    void PutCode(uint32_t code, unsigned length);
    void AlignToByte();
    void PutByte(uint8_t b) { Put(b, 8); }
    std::string Finish();  // pads the last byte with zero bits

  private:
    std::string bytes_;
    uint64_t acc_ = 0;
    unsigned count_ = 0;
};

// Canonical codes (shorter first, symbol order within a length) for lengths.
std::vector<uint32_t> CanonicalCodes(const std::vector<uint8_t>& lengths);

// zlib raw deflate (windowBits -15) at `level` with `strategy`.
std::string ZlibDeflateRaw(const std::string& data, int level, int strategy);
uint32_t ZlibCrc32(const std::string& data);

// Sample data, deterministic for a seed.
std::string SampleText(size_t size, uint32_t seed);
std::string SampleRandom(size_t size, uint32_t seed);
std::string SampleRuns(size_t size, uint32_t seed);

// ---- definitions ----

inline size_t TMemoryInput::Read(uint8_t* dest, size_t capacity) {
    if (capacity == 0) ++zeroCapacityRequests;
    if (endReported_) ++requestsAfterEnd;
    size_t n = std::min({capacity, chunk_, data_.size() - pos_});
    std::memcpy(dest, data_.data() + pos_, n);
    pos_ += n;
    if (n == 0) endReported_ = true;
    return n;
}

inline const uint8_t* TMemoryInput::View(size_t& size) {
    size = view ? data_.size() - pos_ : 0;
    if (!view) return nullptr;
    const uint8_t* rest = reinterpret_cast<const uint8_t*>(data_.data()) + pos_;
    pos_ = data_.size();
    return rest;
}

inline void TMemoryOutput::Write(const uint8_t* data, size_t count) {
    bytes.append(reinterpret_cast<const char*>(data), count);
    pieces.push_back(count);
    copied_ = true;
}

inline uint8_t* TMemoryOutput::Lend(size_t& capacity) {
    capacity = loan;
    if (loan == 0) return nullptr;
    loanBuffer_.assign(loan + kGuard, 0xA5);
    return loanBuffer_.data();
}

inline void TMemoryOutput::Placed(size_t count) {
    if (copied_ || placedBytes + count > loan) {
        orderBroken_ = true;
        return;
    }
    bytes.append(reinterpret_cast<const char*>(loanBuffer_.data() + placedBytes), count);
    placedBytes += count;
}

inline bool TMemoryOutput::LoanRespected() const {
    if (orderBroken_) return false;
    for (size_t i = loan; i < loanBuffer_.size(); ++i)
        if (loanBuffer_[i] != 0xA5) return false;
    return true;
}

inline void TBitWriter::Put(uint32_t value, unsigned bits) {
    acc_ |= uint64_t(value & ((uint64_t(1) << bits) - 1)) << count_;
    count_ += bits;
    while (count_ >= 8) {
        bytes_.push_back(char(acc_ & 0xFF));
        acc_ >>= 8;
        count_ -= 8;
    }
}

inline void TBitWriter::PutCode(uint32_t code, unsigned length) {
    for (unsigned i = length; i-- > 0;) Put((code >> i) & 1, 1);
}

inline void TBitWriter::AlignToByte() {
    if (count_ % 8) Put(0, 8 - count_ % 8);
}

inline std::string TBitWriter::Finish() {
    AlignToByte();
    return bytes_;
}

inline std::vector<uint32_t> CanonicalCodes(const std::vector<uint8_t>& lengths) {
    unsigned counts[17] = {};
    for (uint8_t l : lengths) ++counts[l];
    counts[0] = 0;
    uint32_t next[18] = {};
    uint32_t code = 0;
    for (unsigned len = 1; len <= 16; ++len) {
        code = (code + counts[len - 1]) << 1;
        next[len] = code;
    }
    std::vector<uint32_t> codes(lengths.size(), 0);
    for (size_t s = 0; s < lengths.size(); ++s)
        if (lengths[s]) codes[s] = next[lengths[s]]++;
    return codes;
}

inline std::string ZlibDeflateRaw(const std::string& data, int level, int strategy) {
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy) != Z_OK) return {};
    std::string out(deflateBound(&z, uLong(data.size())) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef*>(&out[0]);
    z.avail_out = uInt(out.size());
    int r = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return r == Z_STREAM_END ? out : std::string();
}

inline uint32_t ZlibCrc32(const std::string& data) {
    return uint32_t(crc32(0, reinterpret_cast<const Bytef*>(data.data()), uInt(data.size())));
}

inline uint32_t NextRandom(uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

inline std::string SampleText(size_t size, uint32_t seed) {
    static const char* const kWords[] = {
        "the", "archive", "entry", "window", "deflate",  "block", "stream", "code", "of",
        "and", "报文",    "压缩",  "length", "distance", "\n",    "a",      "is",   "data"};
    std::string s;
    while (s.size() < size) {
        s += kWords[NextRandom(seed) % (sizeof kWords / sizeof kWords[0])];
        s += ' ';
    }
    s.resize(size);
    return s;
}

inline std::string SampleRandom(size_t size, uint32_t seed) {
    std::string s(size, '\0');
    for (char& c : s) c = char(NextRandom(seed));
    return s;
}

inline std::string SampleRuns(size_t size, uint32_t seed) {
    std::string s;
    while (s.size() < size) s.append(1 + NextRandom(seed) % 300, char('a' + NextRandom(seed) % 3));
    s.resize(size);
    return s;
}

}  // namespace nuva::test
