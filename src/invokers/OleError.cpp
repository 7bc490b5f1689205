#include "invokers/OleError.h"

#include "platform/Platform.h"

namespace nuva {

AnsiString SystemErrorText(HRESULT code) {
    AnsiString text = SystemMessageText(code);
    if (!text.empty()) return text;
    return Format(msg::kOleError, static_cast<unsigned>(code));
}

AnsiString OleErrorText(HRESULT code) {
    WideString description;
    if (TakeThreadErrorDescription(&description) && !description.empty())
        return WideToAnsi(description);
    return SystemErrorText(code);
}

void OleCheck(HRESULT code) {
    if (FAILED(code)) throw EOleError(OleErrorText(code), code);
}

}  // namespace nuva
