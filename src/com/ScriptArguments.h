// Late-bound calls from script hosts. VBScript, JScript, PowerShell and
// Python's win32com pass a variable as a VARIANT by reference
// (VT_BYREF | VT_VARIANT) whatever the parameter's type, and a literal as
// whatever variant it is; ISender's type information takes only its exact
// types (BSTR*, short*, VARIANT_BOOL*). This adapter sits in front of
// IDispatch::Invoke and turns those shapes into the typed ones.
#pragma once

#include "com/SenderInterface.h"

namespace nuva::senderimpl {

// The typed invocation that the adapter hands its arguments to (the
// platform's InvokeMethod).
using TTypedInvoke = HRESULT (*)(ISender* object, DISPID id, REFIID iid, LCID lcid, WORD flags,
                                 DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo,
                                 UINT* argErr);

// Invokes ISender method `id` through `typed`, accepting beside each
// parameter's own type:
// - for every parameter, a VARIANT by reference (VT_BYREF | VT_VARIANT):
//   what it holds is the value in (converted with VariantChangeType: to a
//   string for Request, Config and Status, to a 16-bit integer for
//   Progress; an empty variant is "" or 0), and after the call the
//   parameter's result is written back into it as VT_BSTR, VT_I2 or VT_BOOL,
//   clearing what it held (the result of an [in] string leaves it alone);
// - for Request and Config, any variant that converts to a string.
// A value that does not convert is DISP_E_TYPEMISMATCH with `*argErr` the
// argument's position in DISPPARAMS; the caller's variants are then
// untouched. Results are written back when the method ran (S_OK or
// DISP_E_EXCEPTION). When every argument already has its typed shape (and
// for anything the adapter does not know: other ids, named or missing
// arguments), `params` goes to `typed` as it is.
HRESULT InvokeWithScriptArguments(TTypedInvoke typed, ISender* object, DISPID id, REFIID iid,
                                  LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                  EXCEPINFO* excepInfo, UINT* argErr);

}  // namespace nuva::senderimpl
