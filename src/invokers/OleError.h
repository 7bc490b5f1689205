// OleError: how a failure status of a component call becomes an error of the
// system. The invoker operations return 0 or E_UNEXPECTED and leave the
// reason in the calling thread's error info; the engine calls `OleCheck` on
// every status they return.
//
// Threads: the functions read and clear the calling thread's error info.
#pragma once

#include "platform/Com.h"
#include "platform/Errors.h"

namespace nuva {

// A failure status of a COM call, with its text (system code page).
class EOleError : public Exception {
  public:
    EOleError(const AnsiString& message, HRESULT code) : Exception(message), code_(code) {}
    HRESULT ErrorCode() const { return code_; }

  private:
    HRESULT code_;
};

// An error that left a component's code without being one of ours: a C++
// exception thrown out of an export (its own text when it says one,
// "External exception" otherwise) or a structured exception (the text of
// the error info the component left, else "External exception" and the
// code).
class EExternalException : public Exception {
  public:
    using Exception::Exception;
};

namespace msg {
inline constexpr const char kOleError[] = "OLE error %.8X";
inline constexpr const char kExternalException[] = "External exception";
inline constexpr const char kExternalExceptionCode[] = "External exception %.8X";
}  // namespace msg

// The system's message for a status, else "OLE error " and the status in
// eight hexadecimal digits.
AnsiString SystemErrorText(HRESULT code);
// The text of a failure status: the description of the calling thread's
// error info when it holds one (taking it clears it), else
// `SystemErrorText(code)`.
AnsiString OleErrorText(HRESULT code);
// Raises EOleError with `OleErrorText(code)` when `code` is a failure;
// does nothing (and leaves the error info alone) otherwise.
void OleCheck(HRESULT code);

}  // namespace nuva
