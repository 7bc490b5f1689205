// What each platform implementation provides to the common platform code;
// not part of the seam.
#pragma once

#include "platform/Errors.h"

namespace nuva::internal {

// The full path of the host process's executable (not of a library);
// "." plus the delimiter and a name when the platform cannot tell.
AnsiString HostExecutablePath();

// The default user-interface behaviour of the platform.
int DefaultMessageBox(const AnsiString& text, const AnsiString& caption, unsigned flags);
void DefaultProcessMessages();
void DefaultBusyCursor(bool busy);

// Creates one directory whose parent exists; true on success.
bool CreateSingleDirectory(const AnsiString& path);

// The process environment, read and written through the system (not a C
// runtime's copy), so that every module of the process sees one value. An
// empty value removes the variable. Used by fault injection.
AnsiString GetProcessVariable(const char* name);
void SetProcessVariable(const char* name, const char* value);
// Sets the system's last error to an I/O error or, when `diskFull`, to a
// full disk.
void SetFaultError(bool diskFull);

}  // namespace nuva::internal
