// GuardedCall on POSIX: a fault is a signal, which this layer does not
// catch; the call is made directly.
#include "platform/Guard.h"

namespace nuva {

bool GuardedCall(void (*function)(void*), void* context, TStructuredException*) {
    function(context);
    return true;
}

}  // namespace nuva
