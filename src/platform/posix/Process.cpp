// Process, time and the default user interface on POSIX.
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <ctime>

#include "platform/Platform.h"
#include "platform/PlatformInternal.h"

namespace nuva {

AnsiString internal::HostExecutablePath() {
    char buffer[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return AnsiString("./");
    return Utf8ToAnsi(std::string(buffer, static_cast<size_t>(n)));
}

TLocalDate LocalDate() {
    time_t now = time(nullptr);
    struct tm lt;
    localtime_r(&now, &lt);
    return TLocalDate{lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday};
}

namespace internal {

int DefaultMessageBox(const AnsiString& text, const AnsiString& caption, unsigned flags) {
    std::fprintf(stderr, "%s: %s\n", AnsiToUtf8(caption).c_str(), AnsiToUtf8(text).c_str());
    return idOk;
}

void DefaultProcessMessages() {}

void DefaultBusyCursor(bool) {}

}  // namespace internal

}  // namespace nuva
