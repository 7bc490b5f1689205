// VARIANT initialisation and clearing.
#include "platform/com/runtime/ComApi.h"

namespace {

// The scalar types a VARIANT may hold (by value or by reference), as Windows
// validates them: VT_EMPTY..VT_DECIMAL (0..14) and VT_I1..VT_UINT (16..23).
// Arrays (VT_ARRAY) and records (VT_RECORD) are valid on Windows but never
// made here, so they are refused rather than leaked.
bool IsScalarType(VARTYPE base) {
    return base <= 14 || (base >= 16 && base <= 23);
}

}  // namespace

extern "C" {

void VariantInit(VARIANT* v) {
    if (v) v->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* v) {
    if (!v) return E_INVALIDARG;
    const VARTYPE base = v->vt & ~VT_BYREF;
    const bool byRef = (v->vt & VT_BYREF) != 0;
    // By reference there is no empty or null to point at; Windows refuses
    // those too. Nothing is touched when the type is refused.
    if (!IsScalarType(base) || (byRef && base <= VT_NULL)) return DISP_E_BADVARTYPE;
    if (!byRef) {
        switch (base) {
            case VT_BSTR:
                SysFreeString(v->bstrVal);
                break;
            case VT_UNKNOWN:
            case VT_DISPATCH:
                if (v->punkVal) v->punkVal->Release();
                break;
            default:
                break;
        }
    }
    v->vt = VT_EMPTY;
    return S_OK;
}

}  // extern "C"
