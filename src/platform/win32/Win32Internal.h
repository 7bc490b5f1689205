// Helpers shared by the Windows implementation files; not part of the seam.
// Every win32/*.cpp includes this header first: it brings in <windows.h> and
// removes the macros that would rename the seam's own functions
// (`DeleteFile` -> `DeleteFileA` and so on).
#pragma once

#include <windows.h>

#undef AnsiToOem
#undef DeleteFile
#undef GetFileAttributes
#undef GetProfileString
#undef OemToAnsi
#undef SetFileAttributes

#include <cstdint>

#include "platform/Errors.h"

namespace nuva::win32 {

// The system's text for an error code, in the system code page, without the
// trailing line break and period: it follows the period of our own messages.
AnsiString ErrorText(DWORD code);

// A UTC file time as a local DOS date/time (date in the high word); a time
// before 1980 or after 2107 gives the first or last DOS time, an invalid one
// -1.
int32_t FileTimeToDos(const FILETIME& utc);
// A local DOS date/time as a UTC file time; false when it is not a valid
// date.
bool DosToFileTime(uint32_t dosDateTime, FILETIME* utc);

}  // namespace nuva::win32
