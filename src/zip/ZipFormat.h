// The zip archive records as this system reads and writes them: signatures,
// header sizes, the in-memory entry record (`TZipHeaderInfo`) and end record
// (`TEndCentral`), the DOS date sanitiser, the entry-name rules, the search
// for the end record and the reading of one central or local header. The
// byte layouts are tabled at the top of ZipFormat.cpp.
//
// All functions that take a stream read it at its current position and never
// read past what they were asked to; every size and offset from the archive
// is an unsigned 32-bit value and every position computed from them is 64-bit.
// Pure functions and plain records; any thread, one stream per thread.
#pragma once

#include <cstdint>

#include "platform/Platform.h"
#include "platform/Stream.h"

namespace nuva {

// Signatures, as 32-bit little-endian values.
inline constexpr uint32_t kLocalHeaderSignature = 0x04034B50;    // 50 4B 03 04
inline constexpr uint32_t kCentralHeaderSignature = 0x02014B50;  // 50 4B 01 02
inline constexpr uint32_t kEndCentralSignature = 0x06054B50;     // 50 4B 05 06

inline constexpr int64_t kLocalHeaderSize = 30;     // bytes before the name
inline constexpr int64_t kCentralHeaderSize = 46;   // bytes before the name
inline constexpr int64_t kEndCentralSize = 22;      // bytes before the comment
inline constexpr int64_t kMaxCommentSize = 65535;   // bytes
inline constexpr int64_t kDataDescriptorSize = 16;  // signature, CRC, two sizes
// The most the end record search reads from the end of the archive.
inline constexpr int64_t kEndSearchSize = kMaxCommentSize + kEndCentralSize;

// General purpose flag bits the reader looks at.
inline constexpr uint16_t kFlagEncrypted = 0x0001;
inline constexpr uint16_t kFlagDataDescriptor = 0x0008;

// Compression methods this system reads (and, stored and deflated, writes).
inline constexpr uint16_t kMethodStored = 0;
inline constexpr uint16_t kMethodShrunk = 1;
inline constexpr uint16_t kMethodReduced1 = 2;  // reduced with factors 1..4: methods 2..5
inline constexpr uint16_t kMethodReduced4 = 5;
inline constexpr uint16_t kMethodImploded = 6;
inline constexpr uint16_t kMethodDeflated = 8;

// Host byte (upper byte of "version made by") of an MS-DOS/FAT host.
inline constexpr uint8_t kHostMsDos = 0;

// Returns `dosDateTime` (date in the high word) unchanged when every part is
// in range, else rebuilt from the clamped parts: hour <= 23, minute <= 59,
// seconds <= 59 (stored halved), year 1980..2099, month 1..12, day 1..31.
uint32_t SanitizeDosDateTime(uint32_t dosDateTime);

// One archive entry. Sizes and offsets are unsigned 32-bit as on disk.
class TZipHeaderInfo {
  public:
    uint16_t versionMadeBy = 20;
    uint16_t versionNeeded = 20;
    uint16_t flags = 0;
    uint16_t method = 8;
    uint32_t dosDateTime = 0;
    uint32_t crc32 = 0xFFFFFFFF;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
    uint16_t fileNameLength = 0;
    uint16_t centralExtraLength = 0;
    uint16_t localExtraLength = 0;
    uint16_t fileCommentLength = 0;
    uint16_t diskNumberStart = 0;
    uint16_t internalAttributes = 1;
    uint32_t externalAttributes = 0x20;
    uint32_t localHeaderOffset = 0;
    uint32_t centralHeaderOffset = 0;  // where the central header was read from
    bool selected = false;
    uint8_t keepState = 0;  // 2: the updating writer leaves the entry out
    bool markedForDeletion = false;
    bool oemConvert = true;  // the owning component's setting

    const AnsiString& FileName() const { return fileName_; }
    // Directory part; ends in a backslash unless empty.
    const AnsiString& Directory() const { return directory_; }
    const AnsiString& FileComment() const { return fileComment_; }
    bool HasComment() const { return hasComment_; }

    // Both keep fileNameLength equal to the bytes of directory + file name;
    // SetDirectory appends a backslash to a non-empty value that lacks one.
    void SetFileName(const AnsiString& name);
    void SetDirectory(const AnsiString& dir);
    // Copies the text and sets fileCommentLength.
    void SetFileComment(const AnsiString& comment);
    void ClearFileComment();

    // Takes a stored name: '/' becomes '\', OEM text becomes ANSI when
    // `oemConvert` is on and the host byte is MS-DOS, and the result is split
    // at its last '\' or ':' (double-byte characters stepped over).
    void SetStoredName(const AnsiString& stored);

    uint8_t HostByte() const { return static_cast<uint8_t>(versionMadeBy >> 8); }
    int64_t LocalHeaderTotalSize() const {
        return kLocalHeaderSize + fileNameLength + localExtraLength;
    }
    int64_t CentralHeaderTotalSize() const {
        return kCentralHeaderSize + fileNameLength + centralExtraLength + fileCommentLength;
    }

    // Copies every field except the name-conversion flag.
    void AssignFrom(const TZipHeaderInfo& other);

  private:
    AnsiString fileName_;
    AnsiString directory_;
    AnsiString fileComment_;
    bool hasComment_ = false;
};

// The end of central directory record.
struct TEndCentral {
    uint32_t signature = kEndCentralSignature;
    uint16_t thisDisk = 0;
    uint16_t centralDisk = 0;
    uint16_t entriesOnDisk = 0;
    uint16_t totalEntries = 0;
    uint32_t centralSize = 0;
    uint32_t centralOffset = 0;
    uint16_t commentLength = 0;
    AnsiString comment;
    bool hasComment = false;
    int64_t commentOffset = 0;  // end record offset + 22
    bool commentChanged = false;
};

// Finds the end record in the last 65557 bytes of `archive` (the one nearest
// the end wins) and fills `end`; the comment text is not read. A zero-length
// archive counts as found with every field zero. False when the archive is
// 1..21 bytes long, has no end signature in its tail or the tail reads short.
bool FindEndCentral(TStream& archive, TEndCentral& end);

// The sanity checks on a found end record: both disk numbers at most 999,
// this disk not below the central directory's disk, and the central directory
// offset not negative as a signed 32-bit value.
bool CheckEndCentral(const TEndCentral& end);

// Reads one central header and its name at the current position. True when
// the 46 bytes and the name were read whole and the signature matched; the
// position is then just after the name (extra field and comment are for the
// caller to skip). On false the position is back where it was.
bool ReadCentralHeader(TStream& archive, TZipHeaderInfo& entry);

// Reads one local header and its name at the current position, as the
// rebuild walk does. Same contract as ReadCentralHeader; the entry's local
// header offset is set to the header's position.
bool ReadLocalHeader(TStream& archive, TZipHeaderInfo& entry);

// Little-endian field access for the header buffers.
inline uint16_t GetLe16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline uint32_t GetLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace nuva
