// util: the small conversions and file operations that the engine and the
// compression facade share. Stateless functions on 8-bit strings in the
// system code page; paths use the platform's delimiter (`PathDelim`, "\" on
// Windows) and every scan of a path steps over double-byte characters.
//
// Trimming removes every leading and trailing byte of value 0x20 or less;
// bytes of 0x80 and above are never trimmed.
//
// Threads: every function may be called from any thread.
#pragma once

#include <functional>
#include <memory>

#include "platform/Errors.h"
#include "platform/Stream.h"
#include "util/StringList.h"

namespace nuva {

// `text` without leading and trailing bytes of 0x20 or less.
AnsiString Trim(const AnsiString& text);

// True when the trimmed text is "1" or, with ASCII a-z upper-cased, "TRUE".
bool TextToBool(const AnsiString& text);
// "1"/"0" with `useDigits`, "true"/"false" otherwise.
AnsiString BoolToText(bool value, bool useDigits);
// The first 255 bytes of `text`, trimmed, filled with `padChar` and cut to
// exactly `width` bytes (empty for a width of 0 or less).
AnsiString PadRight(const AnsiString& text, int width, char padChar);

// True when `fileName` names a device on Windows: CON, PRN, AUX, NUL, COM1-9
// or LPT1-9, in any case, before its first "." (trailing spaces ignored), so
// that "con.txt" and "Com1 " are devices too.
bool IsReservedDeviceName(const AnsiString& fileName);

// True when `name` may become one path component inside a work directory:
// not empty, not "." or "..", no byte below 0x20, no "\", "/" or ":" as a
// single-byte character, every lead byte followed by a trail byte of the
// code page (GBK: 0x40-0xFE but 0x7F), no incomplete character at the end,
// and no reserved device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9, any
// case) before its first ".".
bool IsSafeName(const AnsiString& name);

// The trimmed path with one trailing delimiter; an empty path becomes the
// host executable's directory. Creates the directory with its parents and
// ignores the outcome: a directory that cannot be created makes the later
// file operations in it fail instead.
AnsiString NormalizeDir(const AnsiString& path);

// Appends to `list` (created when null; the caller owns it) the full path of
// every entry of the directory `path` that is not a directory, in the
// platform's order; subdirectories are neither listed nor entered. When the
// trimmed `path` is not an existing directory, appends that path itself.
// Raises nothing; an unreadable directory adds nothing.
void ListDirectory(const AnsiString& path, std::unique_ptr<TStringList>& list);

// The bytes of an existing file, unconverted. Raises EFOpenError
// (`Cannot open file "<path>". <reason>`) when it cannot be opened without
// sharing and EReadError ("Stream read error") when fewer bytes than its size
// can be read. The file is closed in every case.
AnsiString LoadFileText(const AnsiString& fileName);

// Creates or truncates the file and writes exactly the bytes of `text`.
// Raises EFCreateError (`Cannot create file "<path>". <reason>`) when the
// file cannot be created, and EWriteError ("Stream write error") when not
// every byte can be written; in that case the partly written file is closed
// and deleted before the error leaves.
void SaveFileText(const AnsiString& text, const AnsiString& fileName);

namespace detail {
// Opens the stream that SaveFileText writes (a TFileStream with fmCreate in
// the real call); tests put a failing stream in its place.
using TCreateStream = std::function<std::unique_ptr<TStream>(const AnsiString& fileName)>;
void SaveFileTextVia(const AnsiString& text, const AnsiString& fileName,
                     const TCreateStream& create);
// Reads the whole stream from its start: its size, then exactly that many
// bytes (EReadError when fewer arrive).
AnsiString ReadWholeStream(TStream& stream);
}  // namespace detail

}  // namespace nuva
