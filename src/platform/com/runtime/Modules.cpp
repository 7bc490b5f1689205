// Dynamic libraries under Windows' names, over dlopen.
#include <dlfcn.h>
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/com/runtime/RuntimeInternal.h"

namespace {

// True when the name holds '/' or '\' outside a double-byte character (the
// trail byte of 誠 is '\').
bool HasDelimiter(const std::string& name) {
    for (size_t i = 0; i < name.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (nuva::IsLeadByte(c) && i + 1 < name.size())
            ++i;
        else if (c == '/' || c == '\\')
            return true;
    }
    return false;
}

// The real executable's directory with a trailing '/', in UTF-8; never the
// platform's test override, because this is where the loader looks.
std::string ExecutableDirectory() {
    std::vector<char> path(256);
    for (;;) {
        ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
        if (n < 0) return std::string();
        if (static_cast<size_t>(n) < path.size()) {
            std::string exe(path.data(), static_cast<size_t>(n));
            return exe.substr(0, exe.rfind('/') + 1);
        }
        path.resize(path.size() * 2);  // cut short: try a larger buffer
    }
}

std::string CurrentDirectory() {
    std::vector<char> path(256);
    while (!getcwd(path.data(), path.size())) {
        if (errno != ERANGE) return std::string();
        path.resize(path.size() * 2);
    }
    return std::string(path.data()) + "/";
}

bool IsFile(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

HMODULE Open(const std::string& utf8Path) {
    return reinterpret_cast<HMODULE>(dlopen(utf8Path.c_str(), RTLD_NOW | RTLD_LOCAL));
}

}  // namespace

extern "C" {

HMODULE LoadLibraryA(LPCSTR fileName) {
    if (!fileName || !*fileName) return nullptr;
    std::string name = fileName;
    if (HasDelimiter(name)) return Open(nuva::AnsiToUtf8(name));
    // Windows' rule for bare names: no extension means ".dll"; a trailing dot
    // means "no extension" and is not part of the file name.
    if (name.find('.') == std::string::npos)
        name += ".dll";
    else if (name.back() == '.')
        name.pop_back();
    const std::string utf8 = nuva::AnsiToUtf8(name);
    for (const std::string& dir : {ExecutableDirectory(), CurrentDirectory()}) {
        if (!dir.empty() && IsFile(dir + utf8)) return Open(dir + utf8);
    }
    return Open(utf8);
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
    // dlsym would read a null handle as "the default search order".
    if (!module || !name) return nullptr;
    return reinterpret_cast<FARPROC>(dlsym(module, name));
}

BOOL FreeLibrary(HMODULE module) {
    return module && dlclose(module) == 0 ? TRUE : FALSE;
}

}  // extern "C"
