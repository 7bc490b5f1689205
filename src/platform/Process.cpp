// The host executable's directory, with the override that tests use; the
// executable's path itself comes from the platform implementation.
#include <mutex>

#include "platform/Platform.h"
#include "platform/PlatformInternal.h"

namespace nuva {

namespace {

std::mutex overrideMutex;
AnsiString exeDirectoryOverride;

}  // namespace

AnsiString ExeDirectory() {
    {
        std::lock_guard<std::mutex> lock(overrideMutex);
        if (!exeDirectoryOverride.empty()) return exeDirectoryOverride;
    }
    return ExtractFilePath(internal::HostExecutablePath());
}

void SetExeDirectoryOverride(const AnsiString& dir) {
    std::lock_guard<std::mutex> lock(overrideMutex);
    exeDirectoryOverride = IncludeTrailingPathDelimiter(dir);
}

}  // namespace nuva
