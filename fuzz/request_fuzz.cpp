// The request PDU as a host may hand it over (bytes in the system code page):
// ReadRequest writes the items as work files. Checks that nothing is written
// outside the send directory and that only the system's own errors leave it.
#include <cstdint>
#include <cstdlib>

#include "EngineFuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static nuva::fuzz::TEngineScratch scratch;
    const nuva::AnsiString pdu(reinterpret_cast<const char*>(data), size);
    nuva::TBstr request = nuva::TBstr::FromAnsi(pdu);
    nuva::TData req;
    try {
        scratch.Engine().ReadRequest(request.Get(), req);
    } catch (const nuva::Exception&) {
        // A refused name or a file that cannot be written: reported by Send.
    }
    scratch.CheckAndClear("send");
    return 0;
}
