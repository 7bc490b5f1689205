// The seam between the system and the operating system. Everything the system
// asks of the OS (code-page text, files and directories, process and time,
// profile strings, the user interface) goes through these functions; one
// implementation lives in win32/, one in posix/, and CMake picks one.
//
// Text: every AnsiString here holds bytes in the system code page (GBK, code
// page 936, on the target machines). On Windows paths are passed to the "A"
// API as they are; on POSIX they are converted to UTF-8 at the system call and
// back when a directory is enumerated.
//
// Errors: functions report failure by their result (false, -1, empty) unless
// their comment names an exception. OS error codes are turned into text here
// and nowhere else (`LastErrorText`).
//
// Threads: every function may be called from any thread, except the handler
// setters, which are meant for start-up and tests.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/Errors.h"

namespace nuva {

// ---------------------------------------------------------------------------
// Paths
// ---------------------------------------------------------------------------

// The path delimiter: '\' on Windows, '/' on POSIX. Every separator in a path
// the system builds uses it.
extern const char PathDelim;
// True where a path may start with a drive ("C:"); only on Windows.
extern const bool HasDriveColons;

// Path helpers that step over double-byte characters: in GBK a trail byte may
// be 0x5C '\' or 0x7C '|' (誠 is D5 5C), so a byte-wise scan would cut such a
// character in half. Implemented once, over `IsLeadByte` and `PathDelim`.

// True when byte `index` of `s` is the path delimiter and not the trail byte
// of a double-byte character.
bool IsPathDelimiter(const AnsiString& s, size_t index);
// Position of the last single-byte character of `s` that is one of `chars`,
// or npos. Trail bytes never match.
size_t LastDelimiter(const AnsiString& chars, const AnsiString& s);
// The last component: everything after the last delimiter (or drive colon).
AnsiString ExtractFileName(const AnsiString& path);
// Everything up to and including the last delimiter (or drive colon).
AnsiString ExtractFilePath(const AnsiString& path);
// The path with one trailing delimiter (added when missing; an empty path
// stays empty).
AnsiString IncludeTrailingPathDelimiter(const AnsiString& path);
// The path without a trailing delimiter.
AnsiString ExcludeTrailingPathDelimiter(const AnsiString& path);
// The extension including its dot ("" when none), from the last component.
AnsiString ExtractFileExt(const AnsiString& path);
// Upper-cases ASCII a-z only, stepping over double-byte characters so that a
// trail byte in 'a'..'z' stays as it is.
AnsiString AnsiUpperCaseAscii(const AnsiString& s);
// Lower-cases ASCII A-Z only, stepping over double-byte characters.
AnsiString AnsiLowerCaseAscii(const AnsiString& s);

// ---------------------------------------------------------------------------
// Text: the system code page
// ---------------------------------------------------------------------------

// The system code page number (936 on the target machines and on POSIX).
unsigned SystemCodePage();
// True when `b` starts a double-byte character in the system code page
// (0x81..0xFE in GBK).
bool IsLeadByte(unsigned char b);
// Conversions between the system code page and UTF-16 / UTF-8. They never
// throw. What cannot be converted becomes '?': a lone lead byte at the end,
// one '?' per UTF-16 unit of a character outside GBK. Codes that Windows maps
// to the private use area (0xFF, the user-defined areas) are '?' on POSIX.
// UTF-8 goes through UTF-16 on both platforms.
WideString AnsiToWide(const AnsiString& s);
AnsiString WideToAnsi(const WideString& s);
// The same over a buffer of UTF-16 units, without a WideString of its own.
AnsiString WideToAnsi(const char16_t* units, size_t length);
// WideToAnsi into `dest`, which holds `capacity` bytes: returns the number of
// bytes the text takes, written when they fit (a null `dest` counts them;
// when they do not fit, what `dest` holds is unspecified). Converting a text piece by piece gives what converting it
// whole gives when no piece ends between the two units of a surrogate pair.
size_t WideToAnsiInto(const char16_t* units, size_t length, char* dest, size_t capacity);
// AnsiToWide into `dest`, which holds `capacity` units: returns the number of
// units the text takes, and writes them only when they fit (a null `dest`
// counts them).
size_t AnsiToWideInto(const AnsiString& s, char16_t* dest, size_t capacity);
// The same over `length` bytes at `text`. Converting a text piece by piece
// gives what converting it whole gives when every piece ends where a
// character ends (after a byte below 0x40, which no double-byte character
// contains).
size_t AnsiToWideInto(const char* text, size_t length, char16_t* dest, size_t capacity);
std::string AnsiToUtf8(const AnsiString& s);
AnsiString Utf8ToAnsi(const std::string& s);
// UTF-8 to UTF-16 directly (nothing lost to the code page); invalid bytes
// become U+FFFD on Windows and '?' on POSIX.
WideString Utf8ToWide(const std::string& s);
// The platform's upper-casing of a buffer in the system code page, in place
// (`CharUpperBuffA`). Applied once to the bytes 0..255 it yields the
// upper-case map (only a-z change); on POSIX it changes ASCII a-z only.
// Otherwise give it whole characters: Windows turns a lone lead byte into
// '?'.
void UpperCaseBuffer(char* buffer, size_t length);
// ANSI <-> OEM code page conversion of a string (identity where both are 936).
// Whole GBK characters round-trip; Windows turns a lone lead byte into '?'.
AnsiString AnsiToOem(const AnsiString& s);
AnsiString OemToAnsi(const AnsiString& s);

// ---------------------------------------------------------------------------
// Process and time
// ---------------------------------------------------------------------------

// The directory of the host process's executable, with a trailing delimiter.
// Returns the override when one is set.
AnsiString ExeDirectory();
// Tests replace the executable directory; an empty text removes the override.
void SetExeDirectoryOverride(const AnsiString& dir);

struct TLocalDate {
    int year;   // e.g. 2026
    int month;  // 1..12
    int day;    // 1..31
};
// Today's date in local time.
TLocalDate LocalDate();

// ---------------------------------------------------------------------------
// Files and directories
// ---------------------------------------------------------------------------

// Attribute bits as Windows defines them; the POSIX side reports archive
// (files), directory, and read-only (owner may not write).
enum : uint32_t {
    faReadOnly = 0x01,
    faHidden = 0x02,
    faSysFile = 0x04,
    faVolumeID = 0x08,
    faDirectory = 0x10,
    faArchive = 0x20,
};

// The last OS error as text (for the second placeholder of the file errors).
AnsiString LastErrorText();

bool FileExists(const AnsiString& path);       // an existing file, not a directory
bool DirectoryExists(const AnsiString& path);  // an existing directory
// Creates the directory and every missing parent, from the top down. True
// when the directory exists afterwards.
bool ForceDirectories(const AnsiString& path);
// Removes an empty directory.
bool RemoveDir(const AnsiString& path);
// Deletes a file; a directory or a read-only file stays (false).
bool DeleteFile(const AnsiString& path);
// True when both paths name one existing file, however each is spelled
// (case, "." steps, short names, links): the file's identity, not its name.
bool IsSameFile(const AnsiString& a, const AnsiString& b);
// Renames, replacing an existing target file.
bool MoveFileReplace(const AnsiString& from, const AnsiString& to);
// The platform attribute bits, or -1 when the path does not exist.
int32_t GetFileAttributes(const AnsiString& path);
bool SetFileAttributes(const AnsiString& path, uint32_t attributes);
// Last-write time as a DOS date/time (date in the high word, local time), or
// -1 when the file does not exist.
int32_t FileAgeDos(const AnsiString& path);
bool SetFileAgeDos(const AnsiString& path, uint32_t dosDateTime);
// The platform's temporary directory, with a trailing delimiter.
AnsiString TempDirectory();
// Creates a new, empty, uniquely named file in `dir` (or in `TempDirectory()`
// when `dir` is empty) and returns its full path; empty when none could be
// created (a missing directory). The name is the first three bytes of
// `prefix` ("TMZ"), a unique part and ".tmp".
AnsiString CreateUniqueTempFile(const AnsiString& dir, const AnsiString& prefix);
// Creates a new, empty directory with a name no other caller, in this process
// or another, is given at the same time, in `dir` (or in `TempDirectory()`
// when `dir` is empty); returns its full path without a trailing delimiter,
// empty when none could be created. The name starts with `prefix` (POSIX:
// all of it; Windows: its first three bytes, as for the temporary files).
// The caller removes the directory.
AnsiString CreateUniqueTempDirectory(const AnsiString& dir, const AnsiString& prefix);
// The short (8.3) form of an existing path where the platform has one; the
// path itself otherwise.
AnsiString ShortPathName(const AnsiString& path);

struct TDirEntry {
    AnsiString name;      // the entry's name in the system code page, no path
    uint32_t attributes;  // platform attribute bits
    int64_t size;         // bytes (0 for directories)
    uint32_t dosTime;     // last-write time, DOS date/time
};
// Every entry of a directory (the pattern "*.*", all attributes), in the
// order the platform enumerates them (no order is promised), including "."
// and ".." where the platform reports them. Empty when the directory cannot
// be read.
std::vector<TDirEntry> ListDirectoryEntries(const AnsiString& dir);

// ---------------------------------------------------------------------------
// Console (command-line hosts)
// ---------------------------------------------------------------------------

// A command-line argument as the system code page text that paths use
// (POSIX: from the locale's UTF-8; Windows: unchanged).
AnsiString ArgumentToAnsi(const char* argument);
// Text in the system code page as the terminal shows it (POSIX: UTF-8;
// Windows: the console's OEM code page).
std::string AnsiToTerminal(const AnsiString& s);
// True when standard error is a terminal (a console on Windows), where a
// progress line may be redrawn in place.
bool StderrIsTerminal();
// Switches standard input and output to binary mode (no CRLF translation on
// Windows; nothing to do on POSIX).
void SetBinaryStdio();

// ---------------------------------------------------------------------------
// Profile (INI) strings
// ---------------------------------------------------------------------------

// One string by section and key, with the platform's rules: ASCII
// case-insensitive section and key names, the value trimmed and one pair of
// matching surrounding quotes (" or ') removed, a line starting with ";"
// never answers for a key without one, the first section of a name and the
// first line of a key win, an empty value comes back empty. `def` comes back
// when the file, the section or the key is missing, or when the key's line
// has no "=", less its trailing spaces and one pair of quotes. `fileName` is
// a full path (Windows looks for a bare name in its own directory).
AnsiString GetProfileString(const AnsiString& fileName, const AnsiString& section,
                            const AnsiString& key, const AnsiString& def);

// ---------------------------------------------------------------------------
// User interface: replaceable handlers
// ---------------------------------------------------------------------------

// Message box flags and results as Windows defines them (the ones used).
enum : unsigned { mbOk = 0x0, mbIconError = 0x10, mbIconWarning = 0x30 };
enum : int { idOk = 1 };

using TMessageBoxHandler =
    std::function<int(const AnsiString& text, const AnsiString& caption, unsigned flags)>;
using TMessagePumpHandler = std::function<void()>;
using TBusyCursorHandler = std::function<void(bool busy)>;

// Shows a modal message box through the installed handler and returns its
// result. The default handler is the real box on Windows and one line on
// stderr on POSIX. A modal box never returns under a headless Wine, so tests
// install their own handler.
int ShowMessageBox(const AnsiString& text, const AnsiString& caption, unsigned flags);
// Runs the calling thread's message pump once (default: PeekMessage loop on
// Windows, nothing on POSIX).
void ProcessMessages();
// Shows or hides the busy cursor (default: the hourglass on Windows, nothing
// on POSIX).
void SetBusyCursor(bool busy);

// Install a handler and return the previous one; an empty function restores
// the default.
TMessageBoxHandler SetMessageBoxHandler(TMessageBoxHandler handler);
TMessagePumpHandler SetMessagePumpHandler(TMessagePumpHandler handler);
TBusyCursorHandler SetBusyCursorHandler(TBusyCursorHandler handler);

// Shows the busy cursor for the lifetime of the object.
class TBusyCursorScope {
  public:
    TBusyCursorScope() { SetBusyCursor(true); }
    ~TBusyCursorScope() { SetBusyCursor(false); }
    TBusyCursorScope(const TBusyCursorScope&) = delete;
    TBusyCursorScope& operator=(const TBusyCursorScope&) = delete;
};

}  // namespace nuva
