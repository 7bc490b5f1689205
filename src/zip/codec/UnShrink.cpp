// Shrink: codes start at 9 bits. Codes 0-255 stand for the bytes themselves;
// code 256 is followed by a control code: 1 widens the codes by one bit (at
// most 13), 2 clears every code from 257 up that is no other code's parent
// (a partial clear). Every other code stands for the string of its parent
// code followed by its character; after each code the next free code gets
// the previous code as parent and the first character of the current string
// as character. A code used in the step that defines it (it is the next free
// code) stands for the previous string followed by that string's first byte.
#include "zip/codec/UnShrink.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "zip/codec/LegacyBitReader.h"

namespace nuva {
namespace {

constexpr unsigned kInitialCodeBits = 9;
constexpr unsigned kMaxCodeBits = 13;
constexpr int kCodes = 1 << kMaxCodeBits;  // 8192
constexpr int kControlCode = 256;
constexpr int kFirstFreeCode = 257;
constexpr int16_t kFree = -1;
constexpr size_t kPiece = 32768;  // bytes handed to the output stage at once

struct TShrinkState {
    int16_t parent[kCodes];
    uint8_t character[kCodes];
    uint8_t stack[kCodes];
    bool leaf[kCodes];
    uint8_t output[kPiece];
};

class TUnShrinkRun {
  public:
    TUnShrinkRun(TCodecInput& in, TCodecOutput& out, TShrinkState& s)
        : bits_(in), out_(out), s_(s) {}
    int Run();

  private:
    void Emit(const uint8_t* data, size_t n) {
        while (n > 0) {
            size_t chunk = std::min(n, kPiece - filled_);
            std::memcpy(s_.output + filled_, data, chunk);
            filled_ += chunk;
            data += chunk;
            n -= chunk;
            if (filled_ == kPiece) {
                out_.Write(s_.output, kPiece);
                filled_ = 0;
            }
        }
    }
    void PartialClear();
    int NextFreeFrom(int code) const {
        while (code < kCodes && s_.parent[code] != kFree) ++code;
        return code;
    }

    TLegacyBitReader bits_;
    TCodecOutput& out_;
    TShrinkState& s_;
    size_t filled_ = 0;
    int nextFree_ = kFirstFreeCode;
};

void TUnShrinkRun::PartialClear() {
    // Every code in use from 257 up is a candidate; a code that is the
    // parent of another one stays.
    for (int c = kFirstFreeCode; c < kCodes; ++c) s_.leaf[c] = s_.parent[c] != kFree;
    for (int c = kFirstFreeCode; c < kCodes; ++c) {
        int p = s_.parent[c];
        if (p >= kFirstFreeCode) s_.leaf[p] = false;
    }
    for (int c = kFirstFreeCode; c < kCodes; ++c)
        if (s_.leaf[c]) s_.parent[c] = kFree;
    nextFree_ = NextFreeFrom(kFirstFreeCode);
}

int TUnShrinkRun::Run() {
    for (int c = 0; c < 256; ++c) {
        s_.parent[c] = 0;
        s_.character[c] = uint8_t(c);
    }
    for (int c = 256; c < kCodes; ++c) s_.parent[c] = kFree;

    unsigned codeBits = kInitialCodeBits;
    int previous = int(bits_.Read(codeBits));
    if (bits_.Ended()) return kLegacyOk;  // no codes at all
    if (previous >= 256) return kLegacyInvalidData;
    uint8_t lastChar = uint8_t(previous);
    Emit(&lastChar, 1);

    for (;;) {
        int code = int(bits_.Read(codeBits));
        if (bits_.Ended()) break;
        while (code == kControlCode) {
            int control = int(bits_.Read(codeBits));
            if (bits_.Ended()) goto done;
            if (control == 1) {
                if (++codeBits > kMaxCodeBits) return kLegacyInvalidData;
            } else if (control == 2) {
                PartialClear();
            } else {
                return kLegacyInvalidData;
            }
            code = int(bits_.Read(codeBits));
            if (bits_.Ended()) goto done;
        }

        // Walk from the code down to its first byte, pushing characters from
        // the end of the stack so that they come out in order.
        size_t top = kCodes;
        int walk = code;
        if (s_.parent[code] == kFree) {
            // Only the code being defined in this very step may be used
            // before its definition.
            if (code != nextFree_ || s_.parent[previous] == kFree) return kLegacyInvalidData;
            s_.stack[--top] = lastChar;
            walk = previous;
        }
        while (walk >= kControlCode) {
            if (s_.parent[walk] == kFree || top == 0) return kLegacyInvalidData;
            s_.stack[--top] = s_.character[walk];
            walk = s_.parent[walk];
        }
        if (top == 0) return kLegacyInvalidData;
        s_.stack[--top] = s_.character[walk];
        lastChar = s_.character[walk];
        Emit(s_.stack + top, kCodes - top);

        if (nextFree_ < kCodes) {
            s_.parent[nextFree_] = int16_t(previous);
            s_.character[nextFree_] = lastChar;
            nextFree_ = NextFreeFrom(nextFree_ + 1);
        }
        previous = code;
    }
done:
    if (filled_ > 0) out_.Write(s_.output, filled_);
    return kLegacyOk;
}

}  // namespace

int TUnShrinker::Run(TCodecInput& in, TCodecOutput& out) {
    std::unique_ptr<TShrinkState> state;
    std::unique_ptr<TUnShrinkRun> run;
    try {
        state.reset(new TShrinkState);
        run.reset(new TUnShrinkRun(in, out, *state));
    } catch (const std::bad_alloc&) {
        return kLegacyOutOfMemory;
    }
    return run->Run();
}

}  // namespace nuva
