// Creating a directory with its parents, on both platforms: the walk up the
// path uses the double-byte-aware path helpers, so a name whose trail byte is
// the delimiter (誠 is D5 5C) is never split.
#include "platform/Platform.h"
#include "platform/PlatformInternal.h"

namespace nuva {

namespace {

// "C:" names a drive: nothing above it can be created.
bool IsDrive(const AnsiString& path) {
    return HasDriveColons && path.size() == 2 && path[1] == ':';
}

}  // namespace

// Recursion goes up to the first existing ancestor; the directories are then
// created on the way back down, the top one first.
bool ForceDirectories(const AnsiString& path) {
    AnsiString dir = ExcludeTrailingPathDelimiter(path);
    if (dir.empty()) return false;
    if (DirectoryExists(dir) || (IsDrive(dir) && DirectoryExists(dir + PathDelim))) return true;
    AnsiString parent = ExcludeTrailingPathDelimiter(ExtractFilePath(dir));
    bool top = parent.empty() || parent == dir || IsDrive(parent);
    if (!top && !ForceDirectories(parent)) return false;
    return internal::CreateSingleDirectory(dir) || DirectoryExists(dir);
}

}  // namespace nuva
