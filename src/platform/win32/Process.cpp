// Process, time and profile strings on Windows.
#include "platform/win32/Win32Internal.h"

#include "platform/Platform.h"
#include "platform/PlatformInternal.h"

namespace nuva {

AnsiString internal::HostExecutablePath() {
    // The module of the process (NULL), not the DLL: the host's executable.
    AnsiString path(MAX_PATH, '\0');
    for (;;) {
        DWORD n = GetModuleFileNameA(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (n == 0) return AnsiString(".\\");
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);  // truncated: try a larger buffer
    }
    return path;
}

TLocalDate LocalDate() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return TLocalDate{now.wYear, now.wMonth, now.wDay};
}

AnsiString GetProfileString(const AnsiString& fileName, const AnsiString& section,
                            const AnsiString& key, const AnsiString& def) {
    // The result is cut at the buffer's size less one: grow until it fits.
    std::string buffer(256, '\0');
    for (;;) {
        DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), def.c_str(), &buffer[0],
                                           static_cast<DWORD>(buffer.size()), fileName.c_str());
        if (n + 1 < buffer.size()) return buffer.substr(0, n);
        if (buffer.size() >= (1u << 24)) return buffer.substr(0, n);
        buffer.resize(buffer.size() * 4);
    }
}

}  // namespace nuva
