#include "invokers/CAInvoker.h"

namespace nuva {

HRESULT TCAInvoker::Init(BSTR configXml, BSTR& msg, VARIANT_BOOL& ok) {
    return Call(u"Init", {TDispArg::ByValue(configXml)}, msg, ok);
}

HRESULT TCAInvoker::EncryptFile(BSTR sourceFile, BSTR& targetFile, BSTR& msg, VARIANT_BOOL& ok) {
    return Call(u"EncryptFile", {TDispArg::ByValue(sourceFile), TDispArg::ByRefString(&targetFile)},
                msg, ok);
}

HRESULT TCAInvoker::DecryptFile(BSTR sourceFile, BSTR& targetFile, BSTR& msg, VARIANT_BOOL& ok) {
    return Call(u"DecryptFile", {TDispArg::ByValue(sourceFile), TDispArg::ByRefString(&targetFile)},
                msg, ok);
}

}  // namespace nuva
