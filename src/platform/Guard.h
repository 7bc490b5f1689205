// Guarded calls into foreign code: a call that a structured exception (a
// Windows fault such as an access violation, or a RaiseException with a code
// of its own, as components built by other compilers raise) ends without
// ending the process.
//
// Windows (i686 and x86-64): the call runs under a structured-exception
// frame of its own. An exception raised inside it that nothing inside
// handles makes the system unwind every frame in between (their own
// structured-exception handlers run; that C++ objects in frames of this
// compiler's code are destroyed is not to be relied on: keep none there)
// and the call returns false with the exception's code. This compiler's own C++ exceptions are not structured
// exceptions on i686 (DWARF-2 unwinding) and pass through untouched on
// x86-64 (where they are: codes 0x20474343-0x22474343), so they keep their
// C++ meaning.
//
// POSIX: a fault there is a signal, which is not caught; the call is made
// directly and returns true.
//
// Threads: any thread; each call guards only its own thread.
#pragma once

#include <cstdint>
#include <exception>
#include <type_traits>

namespace nuva {

// What ended a guarded call.
struct TStructuredException {
    uint32_t code = 0;              // the exception code (0xC0000005: access violation)
    const void* address = nullptr;  // where it was raised
};

// Calls `function(context)`. True when it returned; false when a structured
// exception ended it (`*raised` then describes it). `function` must not
// throw C++ exceptions: on i686 they cannot cross the guard's frame.
bool GuardedCall(void (*function)(void*), void* context, TStructuredException* raised);

// The same for any callable. A C++ exception that `call` throws is caught
// inside the guard and thrown again once the guard has returned.
template <class F>
bool GuardedCall(F&& call, TStructuredException* raised) {
    struct TCall {
        std::remove_reference_t<F>* call;
        std::exception_ptr thrown;
    } state{&call, nullptr};
    const bool returned = GuardedCall(
        [](void* p) {
            auto* s = static_cast<TCall*>(p);
            try {
                (*s->call)();
            } catch (...) {
                s->thrown = std::current_exception();
            }
        },
        &state, raised);
    if (state.thrown) std::rethrow_exception(state.thrown);
    return returned;
}

}  // namespace nuva
