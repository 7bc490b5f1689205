// CAInvoker: the engine's way to the external CA (encryption) component
// (class "CAImpl"), which encrypts the outgoing data file and decrypts the
// received one. Construction, readiness, the status code, the error
// convention and the argument kinds are those of TComponentInvoker and
// TNetworkInvoker.
#pragma once

#include "invokers/ComponentInvoker.h"

namespace nuva {

class TCAInvoker : public TComponentInvoker {
  public:
    TCAInvoker(const AnsiString& dllPath, const AnsiString& className)
        : TComponentInvoker(dllPath, className) {}

    // "Init"(configXml, msg, ok).
    HRESULT Init(BSTR configXml, BSTR& msg, VARIANT_BOOL& ok);
    // "EncryptFile"/"DecryptFile"(sourceFile, targetFile, msg, ok): the
    // component writes its output to the path `targetFile` holds on entry;
    // whatever it leaves there on return is the caller's to ignore (and to
    // free).
    HRESULT EncryptFile(BSTR sourceFile, BSTR& targetFile, BSTR& msg, VARIANT_BOOL& ok);
    HRESULT DecryptFile(BSTR sourceFile, BSTR& targetFile, BSTR& msg, VARIANT_BOOL& ok);
};

}  // namespace nuva
