#include "invokers/NetworkInvoker.h"

namespace nuva {

HRESULT TNetworkInvoker::Init(BSTR configXml, BSTR& msg, VARIANT_BOOL& ok) {
    return Call(u"Init", {TDispArg::ByValue(configXml)}, msg, ok);
}

HRESULT TNetworkInvoker::TestConn(BSTR& msg, VARIANT_BOOL& ok) {
    return Call(u"TestConn", {}, msg, ok);
}

HRESULT TNetworkInvoker::Post(BSTR header, BSTR sendFile, BSTR& replyHeader, BSTR& replyFile,
                              SHORT& progress, BSTR& status, BSTR& msg, VARIANT_BOOL& ok) {
    return Call(u"Post",
                {TDispArg::ByValue(header), TDispArg::ByValue(sendFile),
                 TDispArg::ByRefString(&replyHeader), TDispArg::ByRefString(&replyFile),
                 TDispArg::ByRefShort(&progress), TDispArg::ByRefString(&status)},
                msg, ok);
}

}  // namespace nuva
