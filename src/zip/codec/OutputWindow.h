// The sliding window of the decoders: the last 32768 output bytes (the
// history that matches copy from) followed by the piece being produced.
//
//   offset  size    content
//   0       32768   history: the 32768 bytes before the current piece
//                   (zeros before the entry's first byte)
//   32768   32768   the current piece, handed to the output stage when full
//   65536   kSlack  room for the end of a match that runs past the piece and
//                   for the overshoot of wide copies
//
// A decoder writes at `out` and calls `FlushIfFull()` after each symbol; a
// full piece goes to the output stage as exactly 32768 bytes, and the bytes
// past it move down with the history. `FlushRest()` hands over the last
// partial piece. Output-stage exceptions pass through.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>

#include "zip/codec/CodecIO.h"

namespace nuva {

class TOutputWindow {
  public:
    static constexpr size_t kHistory = 32768;  // bytes a distance may reach back
    static constexpr size_t kPiece = 32768;    // bytes handed over at once
    static constexpr size_t kSlack = 1024;     // >= the longest match + a wide copy
    static constexpr size_t kSize = kHistory + kPiece + kSlack;

    // Allocates the window (std::bad_alloc passes on).
    explicit TOutputWindow(TCodecOutput& output) : output_(output), buffer_(new uint8_t[kSize]) {
        std::memset(buffer_.get(), 0, kHistory);
        out = PieceStart();
        lowest = PieceStart();
    }
    TOutputWindow(const TOutputWindow&) = delete;
    TOutputWindow& operator=(const TOutputWindow&) = delete;

    uint8_t* PieceStart() { return buffer_.get() + kHistory; }
    uint8_t* FlushPoint() { return buffer_.get() + kHistory + kPiece; }

    // Hands over a full piece when `out` reached the flush point.
    void FlushIfFull() {
        if (out >= FlushPoint()) FlushPiece();
    }
    // Hands over what the current piece holds (nothing when it is empty).
    void FlushRest() {
        size_t n = size_t(out - PieceStart());
        if (n == 0) return;
        output_.Write(PieceStart(), n);
        produced_ += n;
        uint8_t* base = buffer_.get();
        // Keep the history whole for a caller that goes on (not needed by the
        // decoders, which stop here, but cheap and keeps the layout valid).
        std::memmove(base, base + n, kHistory);
        out = PieceStart();
        lowest = produced_ >= kHistory ? base : PieceStart() - produced_;
    }
    // Bytes handed to the output stage plus those waiting in the piece.
    uint64_t Produced() const { return produced_ + uint64_t(out - buffer_.get() - kHistory); }

    uint8_t* out;           // next byte to write
    const uint8_t* lowest;  // the entry's first byte still in the window, or the window start

  private:
    void FlushPiece() {
        output_.Write(PieceStart(), kPiece);
        produced_ += kPiece;
        uint8_t* base = buffer_.get();
        size_t keep = size_t(out - base) - kPiece;  // history + the bytes past the piece
        std::memmove(base, base + kPiece, keep);
        out -= kPiece;
        lowest = produced_ >= kHistory ? base : PieceStart() - produced_;
    }

    TCodecOutput& output_;
    std::unique_ptr<uint8_t[]> buffer_;
    uint64_t produced_ = 0;
};

}  // namespace nuva
