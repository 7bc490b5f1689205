// The parts of Com.h that differ on POSIX: message texts (the known Windows
// texts) and module paths, from the dynamic loader.
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/Com.h"
#include "platform/Platform.h"
#include "platform/com/ComInternal.h"

namespace nuva {

namespace {

std::string ReadLink(const char* link) {
    std::vector<char> path(256);
    for (;;) {
        ssize_t n = readlink(link, path.data(), path.size());
        if (n < 0) return std::string();
        if (static_cast<size_t>(n) < path.size()) return std::string(path.data(), size_t(n));
        path.resize(path.size() * 2);  // cut short: try a larger buffer
    }
}

}  // namespace

AnsiString SystemMessageText(HRESULT code) {
    return com::KnownMessageText(code);
}

AnsiString ModuleFileNameOf(const void* address) {
    Dl_info info;
    struct link_map* map = nullptr;
    if (!address || !dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) ||
        !map)
        return AnsiString();
    // The loader names the main program "" and a library by the path it was
    // opened with, which is relative when that was: it is taken from the
    // current directory.
    std::string path = map->l_name && *map->l_name ? map->l_name : ReadLink("/proc/self/exe");
    if (path.empty()) return AnsiString();
    if (path[0] != '/') {
        char* absolute = realpath(path.c_str(), nullptr);
        if (!absolute) return AnsiString();
        path = absolute;
        std::free(absolute);
    }
    return Utf8ToAnsi(path);
}

}  // namespace nuva
