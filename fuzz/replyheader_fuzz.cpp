// The reply header as a network component returns it (any bytes, any length)
// with a received file in the receive directory: ParseReplyHeader may create
// the reply's directory and move the file by the reserve field. Checks that
// nothing is created or moved outside the receive directory and that a
// header the engine accepts names safe paths.
#include <cstdint>
#include <cstdlib>

#include "EngineFuzzSupport.h"
#include "util/util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static nuva::fuzz::TEngineScratch scratch;
    const nuva::AnsiString received = scratch.Dir("recv") + "received.reply";
    nuva::SaveFileText("body", received);
    nuva::TData rep;
    rep.Header.assign(reinterpret_cast<const char*>(data), size);
    rep.DataFile = received;
    try {
        if (scratch.Engine().ParseReplyHeader(rep)) {
            const nuva::AnsiString dir = scratch.Dir("recv");
            if (rep.ZipFile.compare(0, dir.size(), dir) != 0) std::abort();
            if (rep.DataFile.compare(0, dir.size(), dir) != 0) std::abort();
        }
    } catch (const nuva::Exception&) {
    }
    scratch.CheckAndClear("recv");
    return 0;
}
