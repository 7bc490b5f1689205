// Helpers shared by every test program: where ../shared is, a scratch
// directory per test, and the recording UI handlers that every test program
// installs before its first test (a modal box would hang a headless Wine).
#pragma once

#include <string>
#include <vector>

#include "platform/Platform.h"

namespace nuva::test {

// The shared folder (fixtures, benchmark corpus) as a native path with a
// trailing delimiter.
AnsiString SharedDir();
// True when the shared folder exists; tests that need it skip otherwise:
//   if (!HaveShared()) GTEST_SKIP() << kNoSharedMessage;
bool HaveShared();
inline constexpr const char kNoSharedMessage[] =
    "the shared folder (../shared beside the checkout) is absent; fixture tests skipped";

// A fixture file under shared/fixtures, given with '/' separators.
AnsiString FixturePath(const std::string& relative);

// Reads or writes a whole file in the test (raw bytes, paths in the system
// code page). Failures fail the current test.
std::string ReadAll(const AnsiString& path);
void WriteAll(const AnsiString& path, const std::string& bytes);

// A fresh, empty directory of a name no other test, thread or process has
// (CreateUniqueTempDirectory), deleted with everything in it when the object
// goes away. `Path()` ends with the delimiter; it is empty, and the test has
// failed, when no directory could be made.
class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    const AnsiString& Path() const { return path_; }
    // Path() + name, with '/' in `name` turned into the platform delimiter.
    AnsiString operator/(const std::string& name) const;

private:
    AnsiString path_;
};

// Removes a directory tree; returns true when it is gone.
bool RemoveTree(const AnsiString& dir);

// The message boxes shown since the last `TakeMessageBoxes()` (the recording
// handler answers every box with OK).
struct TShownBox {
    AnsiString text;
    AnsiString caption;
    unsigned flags;
};
std::vector<TShownBox> TakeMessageBoxes();

}  // namespace nuva::test
