// The parts of Com.h that differ on Windows: system message texts and module
// paths, from kernel32.
#include "platform/win32/Win32Internal.h"

#include "platform/Com.h"
#include "platform/com/ComInternal.h"

namespace nuva {

AnsiString SystemMessageText(HRESULT code) {
    // The system's own text, in its language; the known text where it has
    // none.
    AnsiString text = win32::SystemText(static_cast<DWORD>(code));
    return text.empty() ? com::KnownMessageText(code) : text;
}

AnsiString ModuleFileNameOf(const void* address) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            static_cast<const char*>(address), &module))
        return AnsiString();
    AnsiString path(MAX_PATH, '\0');
    for (;;) {
        DWORD n = GetModuleFileNameA(module, &path[0], static_cast<DWORD>(path.size()));
        if (n == 0) return AnsiString();
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);  // cut short: try a larger buffer
    }
}

}  // namespace nuva
