// The sliding window of the decoders: the last 32768 output bytes (the
// history that matches copy from) followed by the pieces being produced.
//
//   offset          size            content
//   0               32768           history: the 32768 bytes before the region
//                                   (zeros before the entry's first byte, or
//                                   undefined for inflate, which never reads them)
//   32768           kPieces * 32768 the region: pieces, each handed to the output
//                                   stage as soon as it is full
//   end of region   kSlack          room for the end of a match that runs past
//                                   the last piece and for wide-copy overshoot
//
// A decoder writes at `out` and calls `FlushIfFull()` after each symbol; a
// full piece goes to the output stage as exactly 32768 bytes. When the last
// piece of the region has gone, the region's last 32768 bytes and anything
// past them move down to the start, so a distance of up to 32768 never wraps
// and the move costs one copy per kPieces pieces. `FlushRest()` hands over
// the last partial piece. Output-stage exceptions pass through.
//
// Direct mode (inflate only): when the output stage lends a buffer big
// enough, the decoder writes straight into it and the output itself is the
// history, so nothing is copied on the way out. The flush point then sits
// kSlack bytes before the end of the loan; on reaching it the bytes go to the
// stage as placed, the last 32768 of them are copied into the window's
// history, and decoding goes on in the window as above.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

#include "zip/codec/CodecIO.h"

namespace nuva {

class TOutputWindow {
  public:
    static constexpr size_t kHistory = 32768;  // bytes a distance may reach back
    static constexpr size_t kPiece = 32768;    // bytes handed over at once
    static constexpr size_t kPieces = 8;       // pieces between two moves of the history
    static constexpr size_t kSlack = 1024;     // >= the longest match + a wide copy
    static constexpr size_t kSize = kHistory + kPieces * kPiece + kSlack;
    static constexpr size_t kMinLoan = 4 * kSlack;  // smaller loans are not worth the switch

    // Allocates the window (std::bad_alloc passes on).
    TOutputWindow() : buffer_(new uint8_t[kSize]) {}
    TOutputWindow(const TOutputWindow&) = delete;
    TOutputWindow& operator=(const TOutputWindow&) = delete;

    // Starts a new entry. `zeroHistory` makes the bytes before the entry's
    // first byte read as zeros (the old methods copy them); inflate refuses
    // such distances and skips the clearing.
    // `allowDirect` lets the stage lend its buffer (see above); never with
    // `zeroHistory`, whose zeros would have to live before the loan.
    void Start(TCodecOutput& output, bool zeroHistory, bool allowDirect = false) {
        output_ = &output;
        direct_ = false;
        produced_ = 0;
        if (allowDirect && !zeroHistory) {
            size_t capacity = 0;
            uint8_t* loan = output.Lend(capacity);
            if (loan != nullptr && capacity >= kMinLoan) {
                direct_ = true;
                pieceStart_ = out = loan;
                lowest = loan;
                flushPoint_ = loan + capacity - kSlack;
                return;
            }
        }
        if (zeroHistory) std::memset(buffer_.get(), 0, kHistory);
        pieceStart_ = buffer_.get() + kHistory;
        out = pieceStart_;
        lowest = pieceStart_;
        flushPoint_ = pieceStart_ + kPiece;
    }

    uint8_t* FlushPoint() const { return flushPoint_; }

    // Hands over a full piece when `out` reached the flush point.
    void FlushIfFull() {
        if (out < flushPoint_) return;
        if (direct_)
            LeaveLoan();
        else
            FlushPiece();
    }
    // Hands over what the current piece holds (nothing when it is empty).
    void FlushRest() {
        size_t n = size_t(out - pieceStart_);
        if (n == 0) return;
        if (direct_) {
            output_->Placed(n);
            produced_ += n;
            pieceStart_ = out;
            return;
        }
        output_->Write(pieceStart_, n);
        produced_ += n;
        pieceStart_ = out;
        flushPoint_ = out + kPiece;
        if (flushPoint_ > RegionEnd()) MoveDown();
    }
    // Bytes handed to the output stage plus those waiting in the piece.
    uint64_t Produced() const { return produced_ + uint64_t(out - pieceStart_); }

    uint8_t* out;           // next byte to write
    const uint8_t* lowest;  // the entry's first byte, or the window start when it has gone

  private:
    uint8_t* RegionEnd() const { return buffer_.get() + kHistory + kPieces * kPiece; }

    // The loan is nearly full: report what it holds and go on in the window,
    // with the loan's last bytes (up to kHistory of them) as its history.
    void LeaveLoan() {
        size_t n = size_t(out - pieceStart_);
        output_->Placed(n);
        produced_ += n;
        size_t keep = std::min(n, kHistory);
        uint8_t* start = buffer_.get() + kHistory;
        std::memcpy(start - keep, out - keep, keep);
        // The first byte of the entry is still reachable only when the loan
        // held fewer than kHistory bytes.
        lowest = start - keep;
        direct_ = false;
        pieceStart_ = out = start;
        flushPoint_ = start + kPiece;
    }

    void FlushPiece() {
        output_->Write(pieceStart_, kPiece);
        produced_ += kPiece;
        pieceStart_ += kPiece;
        flushPoint_ += kPiece;
        if (flushPoint_ > RegionEnd()) MoveDown();
    }
    // Moves the history before the current piece, and the bytes already
    // written into it, to the start of the buffer.
    void MoveDown() {
        uint8_t* base = buffer_.get();
        size_t shift = size_t(pieceStart_ - base) - kHistory;
        std::memmove(base, base + shift, size_t(out - base) - shift);
        pieceStart_ -= shift;
        out -= shift;
        flushPoint_ -= shift;
        lowest = size_t(lowest - base) > shift ? lowest - shift : base;
    }

    TCodecOutput* output_ = nullptr;
    std::unique_ptr<uint8_t[]> buffer_;
    uint8_t* pieceStart_ = nullptr;
    uint8_t* flushPoint_ = nullptr;
    uint64_t produced_ = 0;
    bool direct_ = false;
};

}  // namespace nuva
