// Console text on POSIX: terminals speak UTF-8, and so do arguments.
#include <unistd.h>

#include "platform/Platform.h"

namespace nuva {

AnsiString ArgumentToAnsi(const char* argument) { return Utf8ToAnsi(argument ? argument : ""); }

std::string AnsiToTerminal(const AnsiString& s) { return AnsiToUtf8(s); }

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

void SetBinaryStdio() {}

}  // namespace nuva
