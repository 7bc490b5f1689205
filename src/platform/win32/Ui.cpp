// The default user interface on Windows: the real modal box, the calling
// thread's message pump and the hourglass.
#include "platform/win32/Win32Internal.h"

#include "platform/Platform.h"
#include "platform/PlatformInternal.h"

namespace nuva::internal {

int DefaultMessageBox(const AnsiString& text, const AnsiString& caption, unsigned flags) {
    return MessageBoxA(GetActiveWindow(), text.c_str(), caption.c_str(), flags);
}

void DefaultProcessMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // The quit request belongs to the host's own loop: leave it there.
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

void DefaultBusyCursor(bool busy) {
    SetCursor(LoadCursor(nullptr, busy ? IDC_WAIT : IDC_ARROW));
}

}  // namespace nuva::internal
