// Raw deflate from untrusted bytes. Byte 0 picks how the stages hand the
// stream in and take the output (pieces, a view of the whole input, a lent
// output buffer); the rest is the stream. A run that reads a view or writes
// into a loan must end exactly as the plain run does.
#include "FuzzSupport.h"
#include "zip/codec/Inflate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    using namespace nuva::fuzz;
    const uint8_t control = data[0];
    nuva::TInflater inflater;
    TFuzzInput in(data + 1, size - 1, ChunkFor(control), ViewFor(control));
    TFuzzOutput out(LoanFor(control));
    const int r = inflater.Run(in, out);
    if (r < 0 || r > 3) __builtin_trap();
    if (ViewFor(control) || LoanFor(control) != 0) {
        TFuzzInput plainIn(data + 1, size - 1, ChunkFor(control));
        TFuzzOutput plainOut;
        const int plain = inflater.Run(plainIn, plainOut);
        // A failed run may have decoded into the loan bytes it never placed.
        if (plain != r || (r == 0 && (plainOut.total != out.total || plainOut.hash != out.hash)))
            __builtin_trap();
    }
    return 0;
}
