// Script hosts' argument shapes turned into ISender's typed ones: each
// adapted argument gets a typed stand-in of ours for the call, and its
// result goes back into the caller's variant afterwards.
#include "com/ScriptArguments.h"

#include <algorithm>

namespace nuva::senderimpl {

namespace {

enum class TParam {
    InString,     // Request, Config: [in] BSTR
    OutString,    // Reply, Message: [out] BSTR*
    InOutString,  // Status: [in, out] BSTR*
    InOutShort,   // Progress: [in, out] short*
    OutBool,      // Result: [out] VARIANT_BOOL*
};

constexpr UINT kMaxParams = 6;

struct TSignature {
    DISPID id;
    UINT count;
    TParam params[kMaxParams];  // in call order
};

constexpr TSignature kSignatures[] = {
    {kDispIdTestConn, 2, {TParam::OutString, TParam::OutBool}},
    {kDispIdSend,
     6,
     {TParam::InString, TParam::OutString, TParam::InOutShort, TParam::InOutString,
      TParam::OutString, TParam::OutBool}},
    {kDispIdInit, 3, {TParam::InString, TParam::OutString, TParam::OutBool}},
};

bool HasTypedShape(TParam param, VARTYPE vt) {
    switch (param) {
        case TParam::InString:
            return vt == VT_BSTR || vt == (VT_BSTR | VT_BYREF);
        case TParam::OutString:
        case TParam::InOutString:
            return vt == (VT_BSTR | VT_BYREF);
        case TParam::InOutShort:
            return vt == (VT_I2 | VT_BYREF);
        case TParam::OutBool:
            return vt == (VT_BOOL | VT_BYREF);
    }
    return false;
}

// One adapted argument: the stand-in the typed call gets, and the caller's
// variant that receives the result (null for an [in] string).
struct TStandIn {
    TBstr text;
    SHORT number = 0;
    VARIANT_BOOL flag = VARIANT_FALSE;
    VARIANT* holder = nullptr;
};

// `value` converted to `vt` into `*out`; false when it does not convert.
bool Convert(const VARIANT& value, VARTYPE vt, TVariant* out) {
    return SUCCEEDED(VariantChangeType(out->Get(), const_cast<VARIANT*>(&value), 0, vt)) &&
           out->Get()->vt == vt;
}

}  // namespace

HRESULT InvokeWithScriptArguments(TTypedInvoke typed, ISender* object, DISPID id, REFIID iid,
                                  LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                  EXCEPINFO* excepInfo, UINT* argErr) {
    const TSignature* signature = nullptr;
    for (const TSignature& s : kSignatures)
        if (s.id == id) signature = &s;
    if (!signature || !params || !params->rgvarg || params->cNamedArgs != 0 ||
        params->cArgs != signature->count)
        return typed(object, id, iid, lcid, flags, params, result, excepInfo, argErr);

    const UINT count = signature->count;
    // Fixed storage: nothing here may throw across the COM boundary.
    VARIANT args[kMaxParams];
    std::copy(params->rgvarg, params->rgvarg + count, args);
    TStandIn standIns[kMaxParams];  // by DISPPARAMS position
    bool adapted = false;
    for (UINT i = 0; i < count; ++i) {
        // DISPPARAMS holds the arguments last first.
        const UINT slot = count - 1 - i;
        const TParam param = signature->params[i];
        VARIANT& arg = args[slot];
        if (HasTypedShape(param, arg.vt)) continue;
        const bool byVariant = arg.vt == (VT_BYREF | VT_VARIANT) && arg.pvarVal;
        if (!byVariant && param != TParam::InString) continue;  // the typed call refuses it
        TStandIn& standIn = standIns[slot];
        const VARIANT& value = byVariant ? *arg.pvarVal : arg;
        if (byVariant && param != TParam::InString) standIn.holder = arg.pvarVal;

        TVariant converted;
        switch (param) {
            case TParam::InString:
            case TParam::InOutString:
                if (!Convert(value, VT_BSTR, &converted)) {
                    if (argErr) *argErr = slot;
                    return DISP_E_TYPEMISMATCH;
                }
                standIn.text.Reset(converted.Get()->bstrVal);
                converted.Get()->vt = VT_EMPTY;  // the string is the stand-in's now
                break;
            case TParam::InOutShort:
                if (!Convert(value, VT_I2, &converted)) {
                    if (argErr) *argErr = slot;
                    return DISP_E_TYPEMISMATCH;
                }
                standIn.number = converted.Get()->iVal;
                break;
            case TParam::OutString:
            case TParam::OutBool:
                break;  // nothing goes in
        }
        VariantInit(&arg);
        switch (param) {
            case TParam::InString:
                arg.vt = VT_BSTR;
                arg.bstrVal = standIn.text.Get();
                break;
            case TParam::OutString:
            case TParam::InOutString:
                arg.vt = VT_BSTR | VT_BYREF;
                arg.pbstrVal = standIn.text.InOut();
                break;
            case TParam::InOutShort:
                arg.vt = VT_I2 | VT_BYREF;
                arg.piVal = &standIn.number;
                break;
            case TParam::OutBool:
                arg.vt = VT_BOOL | VT_BYREF;
                arg.pboolVal = &standIn.flag;
                break;
        }
        adapted = true;
    }
    if (!adapted) return typed(object, id, iid, lcid, flags, params, result, excepInfo, argErr);

    DISPPARAMS typedParams{args, nullptr, count, 0};
    const HRESULT hr = typed(object, id, iid, lcid, flags, &typedParams, result, excepInfo, argErr);
    if (hr != S_OK && hr != DISP_E_EXCEPTION) return hr;  // the method did not run

    for (UINT i = 0; i < count; ++i) {
        const UINT slot = count - 1 - i;
        TStandIn& standIn = standIns[slot];
        if (!standIn.holder) continue;
        VariantClear(standIn.holder);
        switch (signature->params[i]) {
            case TParam::OutString:
            case TParam::InOutString:
                standIn.holder->vt = VT_BSTR;
                standIn.holder->bstrVal = standIn.text.Detach();
                break;
            case TParam::InOutShort:
                standIn.holder->vt = VT_I2;
                standIn.holder->iVal = standIn.number;
                break;
            case TParam::OutBool:
                standIn.holder->vt = VT_BOOL;
                standIn.holder->boolVal = standIn.flag;
                break;
            case TParam::InString:
                break;
        }
    }
    return hr;
}

}  // namespace nuva::senderimpl
