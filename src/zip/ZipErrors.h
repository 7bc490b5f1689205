// The archive components' errors. Each carries its fixed English text; the
// texts live here and nowhere else. Problems with a single entry (wrong CRC,
// encrypted, output not creatable) are not errors: the entry is skipped and
// only the extraction count shows it.
//
// Plain value classes; throw and catch them anywhere.
#pragma once

#include "platform/Errors.h"

namespace nuva {

namespace msg {
inline constexpr const char kIncompleteZip[] = "Incomplete Zip File";
inline constexpr const char kNotAZipFile[] = "Not a valid zip file!";
inline constexpr const char kBadZipFile[] = "Not a valid zip file!";
inline constexpr const char kPrematureEnd[] = "Premature end of file reached";
inline constexpr const char kBiggerThanUncompressed[] = "File is larger than uncompressed size!";
inline constexpr const char kCantWriteUCF[] = "Cant write uncompressed file";
inline constexpr const char kUserCanceled[] = "User Aborted Operation";
inline constexpr const char kNotEnoughRoom[] = "Not enough room to write archive";
inline constexpr const char kUnknownMethod[] = "Unknown Compression Method";
inline constexpr const char kZipErrorCaption[] = "Zip Error";
inline constexpr const char kCouldNotCopy[] = "Could not copy from ";
inline constexpr const char kCopyArrow[] = " -> ";
inline constexpr const char kErrorCaption[] = "Error";
}  // namespace msg

// The common base of the archive components' errors.
class EZipError : public Exception {
  public:
    using Exception::Exception;
};

// No valid end record, and the reader assumes a multi-volume archive.
class EIncompleteZip : public EZipError {
  public:
    EIncompleteZip() : EZipError(msg::kIncompleteZip) {}
};

// No valid end record, and the reader assumes the file is no archive at all.
class ENotAZipFile : public EZipError {
  public:
    ENotAZipFile() : EZipError(msg::kNotAZipFile) {}
};

// The central directory cannot be read and the rebuild from the local
// headers failed.
class EBadZipFile : public EZipError {
  public:
    EBadZipFile() : EZipError(msg::kBadZipFile) {}
};

// The archive ends before an entry's local header or compressed data does.
class EFatalUnzipError : public EZipError {
  public:
    EFatalUnzipError() : EZipError(msg::kPrematureEnd) {}
};

// Decoded output would exceed the entry's uncompressed size.
class EBiggerThanUncompressed : public EZipError {
  public:
    EBiggerThanUncompressed() : EZipError(msg::kBiggerThanUncompressed) {}
};

// An output file took fewer bytes than were written to it (a full disk).
class ECantWriteUCF : public EZipError {
  public:
    ECantWriteUCF() : EZipError(msg::kCantWriteUCF) {}
};

// A cancel request was pending.
class EUserCanceled : public EZipError {
  public:
    EUserCanceled() : EZipError(msg::kUserCanceled) {}
};

// The archive being written took fewer bytes than were written to it.
class ENotEnoughRoom : public EZipError {
  public:
    ENotEnoughRoom() : EZipError(msg::kNotEnoughRoom) {}
};

// The rewritten archive could be neither renamed nor copied over the old
// one; the temporary file that holds it is kept.
class EArchiveNotReplaced : public EZipError {
  public:
    EArchiveNotReplaced(const AnsiString& source, const AnsiString& target)
        : EZipError(msg::kCouldNotCopy + source + msg::kCopyArrow + target) {}
};

}  // namespace nuva
