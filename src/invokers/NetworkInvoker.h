// NetworkInvoker: the engine's way to the external network component (class
// "NetworkImpl"), which carries each request to the server and brings the
// reply back. Construction, readiness, the status code and the error
// convention are those of TComponentInvoker.
//
// Argument kinds: BSTR parameters taken by value are the caller's strings
// (not freed); references are the caller's own variables, which the
// component reads and replaces (freeing a string it replaces). `msg` is
// cleared on entry and `ok` must be set by the component (except `Init`,
// whose `ok` the engine sets true first).
#pragma once

#include "invokers/ComponentInvoker.h"

namespace nuva {

class TNetworkInvoker : public TComponentInvoker {
  public:
    TNetworkInvoker(const AnsiString& dllPath, const AnsiString& className)
        : TComponentInvoker(dllPath, className) {}

    // "Init"(configXml, msg, ok).
    HRESULT Init(BSTR configXml, BSTR& msg, VARIANT_BOOL& ok);
    // "TestConn"(msg, ok).
    HRESULT TestConn(BSTR& msg, VARIANT_BOOL& ok);
    // "Post"(header, sendFile, replyHeader, replyFile, progress, status, msg,
    // ok): `replyFile` holds the receive directory on entry and the stored
    // reply file's path on success; `progress` and `status` are the host's
    // own variables, which the component may update while it works.
    HRESULT Post(BSTR header, BSTR sendFile, BSTR& replyHeader, BSTR& replyFile, SHORT& progress,
                 BSTR& status, BSTR& msg, VARIANT_BOOL& ok);
};

}  // namespace nuva
