// The one way Windows code of this system includes the Windows headers:
// <windows.h> and the COM and Automation headers, without the macros that
// would rename the seam's own functions (`DeleteFile` -> `DeleteFileA` and so
// on). Code that wants the Windows function names them with their "A" suffix.
// Never include <windows.h> directly: a later include of this header would
// find the macros already defined and could not remove them for code above.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <olectl.h>

#undef AnsiToOem
#undef DeleteFile
#undef GetFileAttributes
#undef GetProfileString
#undef OemToAnsi
#undef SetFileAttributes
