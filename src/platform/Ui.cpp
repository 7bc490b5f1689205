// The replaceable user-interface handlers. The defaults come from the
// platform implementation (DefaultMessageBox and friends).
#include <mutex>

#include "platform/Platform.h"
#include "platform/PlatformInternal.h"

namespace nuva {

namespace {

std::mutex handlersMutex;
TMessageBoxHandler messageBoxHandler;
TMessagePumpHandler messagePumpHandler;
TBusyCursorHandler busyCursorHandler;

template <typename Handler>
Handler Swap(Handler& slot, Handler replacement) {
    std::lock_guard<std::mutex> lock(handlersMutex);
    Handler previous = std::move(slot);
    slot = std::move(replacement);
    return previous;
}

template <typename Handler>
Handler Get(const Handler& slot) {
    std::lock_guard<std::mutex> lock(handlersMutex);
    return slot;
}

}  // namespace

int ShowMessageBox(const AnsiString& text, const AnsiString& caption, unsigned flags) {
    TMessageBoxHandler handler = Get(messageBoxHandler);
    return handler ? handler(text, caption, flags) : internal::DefaultMessageBox(text, caption, flags);
}

void ProcessMessages() {
    TMessagePumpHandler handler = Get(messagePumpHandler);
    if (handler)
        handler();
    else
        internal::DefaultProcessMessages();
}

void SetBusyCursor(bool busy) {
    TBusyCursorHandler handler = Get(busyCursorHandler);
    if (handler)
        handler(busy);
    else
        internal::DefaultBusyCursor(busy);
}

TMessageBoxHandler SetMessageBoxHandler(TMessageBoxHandler handler) {
    return Swap(messageBoxHandler, std::move(handler));
}

TMessagePumpHandler SetMessagePumpHandler(TMessagePumpHandler handler) {
    return Swap(messagePumpHandler, std::move(handler));
}

TBusyCursorHandler SetBusyCursorHandler(TBusyCursorHandler handler) {
    return Swap(busyCursorHandler, std::move(handler));
}

}  // namespace nuva
