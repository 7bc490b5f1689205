// Helpers shared by the Windows implementation files; not part of the seam.
// Every win32/*.cpp includes this header first: it brings in the Windows
// headers the one way the system does (WinHeaders.h).
#pragma once

#include "platform/win32/WinHeaders.h"

#include <cstdint>

#include "platform/Errors.h"

namespace nuva::win32 {

// The system's text for an error code (a Win32 code or an HRESULT), in the
// system code page, without the trailing line break; empty when it has none.
AnsiString SystemText(DWORD code);
// The same without the trailing period, for the second placeholder of our own
// messages (which brings its own period); "System error N" when the system
// has no text.
AnsiString ErrorText(DWORD code);

// A UTC file time as a local DOS date/time (date in the high word); a time
// before 1980 or after 2107 gives the first or last DOS time, an invalid one
// -1.
int32_t FileTimeToDos(const FILETIME& utc);
// A local DOS date/time as a UTC file time; false when it is not a valid
// date.
bool DosToFileTime(uint32_t dosDateTime, FILETIME* utc);

}  // namespace nuva::win32
