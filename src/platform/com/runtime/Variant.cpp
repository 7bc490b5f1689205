// VARIANT initialisation and clearing.
#include "platform/com/runtime/ComApi.h"

#include <string>

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

namespace {

// The value of a VARIANT as one of the source types VariantChangeType
// converts from; false for any other.
struct TScalar {
    enum { Empty, Integer, Text } kind = Empty;
    long long integer = 0;
    BSTR text = nullptr;
};

bool ScalarOf(const VARIANT* v, TScalar* out) {
    if (v->vt == (VT_BYREF | VT_VARIANT)) {
        if (!v->pvarVal || v->pvarVal->vt == (VT_BYREF | VT_VARIANT)) return false;
        v = v->pvarVal;
    }
    const bool byRef = (v->vt & VT_BYREF) != 0;
    if (byRef && !v->byref) return false;
    switch (v->vt & ~VT_BYREF) {
        case VT_EMPTY:
            if (byRef) return false;
            out->kind = TScalar::Empty;
            return true;
        case VT_I2:
            out->kind = TScalar::Integer;
            out->integer = byRef ? *v->piVal : v->iVal;
            return true;
        case VT_I4:
            out->kind = TScalar::Integer;
            out->integer = byRef ? *v->plVal : v->lVal;
            return true;
        case VT_BOOL:
            out->kind = TScalar::Integer;
            out->integer = (byRef ? *v->pboolVal : v->boolVal) ? -1 : 0;
            return true;
        case VT_BSTR:
            out->kind = TScalar::Text;
            out->text = byRef ? *v->pbstrVal : v->bstrVal;
            return true;
        default:
            return false;
    }
}

// Blanks, an optional sign and decimal digits, blanks; false otherwise.
bool ParseInteger(BSTR text, long long* value) {
    const UINT n = SysStringLen(text);
    UINT i = 0;
    auto blank = [&](UINT k) { return text[k] == u' ' || text[k] == u'\t'; };
    while (i < n && blank(i)) ++i;
    bool negative = false;
    if (i < n && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
    const UINT digits = i;
    long long v = 0;
    for (; i < n && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        v = v * 10 + (text[i] - u'0');
        if (v > 1000000) v = 1000000;  // out of every range asked for; stops growing
    }
    if (i == digits) return false;
    while (i < n && blank(i)) ++i;
    if (i != n) return false;
    *value = negative ? -v : v;
    return true;
}

}  // namespace

extern "C" {

HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT, VARTYPE vt) {
    if (!dest || !src) return E_INVALIDARG;
    TScalar value;
    if (!ScalarOf(src, &value)) return DISP_E_TYPEMISMATCH;
    VARIANT result;
    VariantInit(&result);
    if (vt == VT_BSTR) {
        if (value.kind == TScalar::Text) {
            result.bstrVal = SysAllocStringLen(value.text, SysStringLen(value.text));
        } else {
            const std::string digits =
                value.kind == TScalar::Empty ? std::string() : std::to_string(value.integer);
            const std::u16string text(digits.begin(), digits.end());
            result.bstrVal = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()),
                                               static_cast<UINT>(text.size()));
        }
        if (!result.bstrVal) return E_OUTOFMEMORY;
        result.vt = VT_BSTR;
    } else if (vt == VT_I2) {
        long long n = value.integer;
        if (value.kind == TScalar::Text && !ParseInteger(value.text, &n))
            return DISP_E_TYPEMISMATCH;
        if (n < -32768 || n > 32767) return DISP_E_OVERFLOW;
        result.vt = VT_I2;
        result.iVal = static_cast<SHORT>(n);
    } else {
        return DISP_E_TYPEMISMATCH;
    }
    // `dest` may be `src`: cleared only now that the value is taken.
    VariantClear(dest);
    *dest = result;
    return S_OK;
}

}  // extern "C"
