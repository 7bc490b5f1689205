// The inflate decoder: one raw deflate stream (an archive entry of method 8)
// from an input stage to an output stage.
//
// Output reaches the output stage in pieces of exactly 32768 bytes as the
// window fills, and the last partial piece after the final block. When a
// block fails, decoding stops at once: nothing more is written, and the
// pieces already handed over stay with the caller (who judges the entry by
// its CRC-32 and size).
//
// Exceptions thrown by the input or output stage pass through unchanged.
// The decoder itself throws nothing (running out of memory becomes
// kInflateOutOfMemory), never reads or writes outside its buffers and always
// ends, whatever the input holds.
//
// One TInflater may run any number of entries, one at a time; it keeps no
// state between runs. Not thread-safe.
#pragma once

#include <memory>

#include "zip/codec/CodecIO.h"

namespace nuva {

// Results of TInflater::Run.
enum : int {
    kInflateOk = 0,
    // Invalid data: NLEN mismatch, too many codes, a repeat past the end, an
    // incomplete or empty code where none is allowed, a code that decodes to
    // nothing, a distance before the entry's first byte, or input that ended
    // before the final block did.
    kInflateInvalidData = 1,
    // Block type 3 or an over-subscribed code.
    kInflateBadBlock = 2,
    // A table or the window could not be allocated; the message box
    // "*** inflate out of memory ***" (caption "Error") has been shown.
    kInflateOutOfMemory = 3,
};

inline constexpr const char kInflateOutOfMemoryText[] = "*** inflate out of memory ***";

// Lets tests run the portable decoding loop on a processor for which a
// faster one (chosen at run time) exists. Allowed by default; set it only
// while no inflate runs.
void InflateAllowCpuFeatures(bool allowed);

class TInflater {
  public:
    TInflater();
    ~TInflater();
    TInflater(const TInflater&) = delete;
    TInflater& operator=(const TInflater&) = delete;

    // Decodes one stream; returns one of the results above.
    int Run(TCodecInput& in, TCodecOutput& out);

  private:
    struct TState;
    std::unique_ptr<TState> tables_;  // buffers and tables, allocated by the first run
};

}  // namespace nuva
