// ISender, the dual interface of SenderImpl objects (IID
// {4359B4C3-E087-4D97-9AC3-86FE8B61B145}), on both builds: on Windows the
// declaration widl writes from Sender.idl (Sender.h in the build tree, with
// IID_ISender), on POSIX the hand-written equal of posix/ISender.h. The
// vtable order after IDispatch is TestConn, Send, Init.
#pragma once

#include "platform/Com.h"

#if defined(_WIN32)
#include "Sender.h"
#else
#include "com/posix/ISender.h"
#endif

namespace nuva {

// The dispatch ids that Sender.idl gives the methods; late-bound callers get
// them from GetIDsOfNames on every build.
enum : DISPID {
    kDispIdTestConn = 1,
    kDispIdSend = 2,
    kDispIdInit = 3,
};

}  // namespace nuva
