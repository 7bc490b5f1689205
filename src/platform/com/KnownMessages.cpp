#include "platform/com/ComInternal.h"

namespace nuva::com {

namespace {

struct TKnownMessage {
    uint32_t code;
    const char* text;
};

// FormatMessage's texts on an English Windows (trailing line break removed,
// full stop as the system writes it).
constexpr TKnownMessage kKnownMessages[] = {
    {0x8000FFFF, "Catastrophic failure"},                        // E_UNEXPECTED
    {0x80004001, "Not implemented"},                             // E_NOTIMPL
    {0x80004002, "No such interface supported"},                 // E_NOINTERFACE
    {0x80004003, "Invalid pointer"},                             // E_POINTER
    {0x80004004, "Operation aborted"},                           // E_ABORT
    {0x80004005, "Unspecified error"},                           // E_FAIL
    {0x80070002, "The system cannot find the file specified."},  // ERROR_FILE_NOT_FOUND
    {0x80070005, "Access is denied."},                           // E_ACCESSDENIED
    {0x8007000E, "Not enough memory resources are available to complete this operation."},
    {0x80070057, "The parameter is incorrect."},                  // E_INVALIDARG
    {0x8007007E, "The specified module could not be found."},     // ERROR_MOD_NOT_FOUND
    {0x8007007F, "The specified procedure could not be found."},  // ERROR_PROC_NOT_FOUND
    {0x80040110, "Class does not support aggregation (or class object is remote)"},
    {0x80040111, "ClassFactory cannot supply requested class"},  // CLASS_E_CLASSNOTAVAILABLE
    {0x80040150, "Could not read key from registry"},            // REGDB_E_READREGDB
    {0x80040154, "Class not registered"},                        // REGDB_E_CLASSNOTREG
    {0x800401F3, "Invalid class string"},                        // CO_E_CLASSSTRING
    {0x800401F8, "DLL for class not found"},                     // CO_E_DLLNOTFOUND
    {0x800401F9, "Error in the DLL"},                            // CO_E_ERRORINDLL
    {0x80020001, "Unknown interface."},                          // DISP_E_UNKNOWNINTERFACE
    {0x80020003, "Member not found."},                           // DISP_E_MEMBERNOTFOUND
    {0x80020004, "Parameter not found."},                        // DISP_E_PARAMNOTFOUND
    {0x80020005, "Type mismatch."},                              // DISP_E_TYPEMISMATCH
    {0x80020006, "Unknown name."},                               // DISP_E_UNKNOWNNAME
    {0x80020007, "No named arguments."},                         // DISP_E_NONAMEDARGS
    {0x80020008, "Bad variable type."},                          // DISP_E_BADVARTYPE
    {0x80020009, "Exception occurred."},                         // DISP_E_EXCEPTION
    {0x8002000A, "Out of present range."},                       // DISP_E_OVERFLOW
    {0x8002000B, "Invalid index."},                              // DISP_E_BADINDEX
    {0x8002000E, "Invalid number of parameters."},               // DISP_E_BADPARAMCOUNT
    {0x8002000F, "Parameter not optional."},                     // DISP_E_PARAMNOTOPTIONAL
    {0x8002801D, "Library not registered."},                     // TYPE_E_LIBNOTREGISTERED
    {0x8002802B, "Element not found."},                          // TYPE_E_ELEMENTNOTFOUND
    {0x80029C4A, "Error loading type library/DLL."},             // TYPE_E_CANTLOADLIBRARY
};

}  // namespace

AnsiString KnownMessageText(HRESULT code) {
    for (const TKnownMessage& m : kKnownMessages)
        if (m.code == static_cast<uint32_t>(code)) return m.text;
    return AnsiString();
}

}  // namespace nuva::com
