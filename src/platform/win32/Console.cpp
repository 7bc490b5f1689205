// Console text on Windows: arguments arrive in the ANSI code page; the
// console shows the OEM code page; standard streams default to text mode.
#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "platform/Platform.h"

namespace nuva {

AnsiString ArgumentToAnsi(const char* argument) { return AnsiString(argument ? argument : ""); }

std::string AnsiToTerminal(const AnsiString& s) { return AnsiToOem(s); }

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

void SetBinaryStdio() {
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
}

}  // namespace nuva
