// What the two implementations of Com.h share; not part of the seam.
#pragma once

#include "platform/Com.h"

namespace nuva::com {

// The message text that an English Windows gives for a failure code this
// system meets (COM, Automation and the file errors of component loading),
// without the trailing line break; empty for any other code. The POSIX build
// answers from it; the Windows build where the system has no text of its
// own (Wine lacks most of the OLE texts).
AnsiString KnownMessageText(HRESULT code);

}  // namespace nuva::com
