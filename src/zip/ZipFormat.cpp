// Zip records on disk. All integers little-endian.
//
// Local file header (30 bytes, then name and extra field, then the data):
//   offset size field
//        0    4 signature 0x04034B50
//        4    2 version needed to extract
//        6    2 general purpose flags (bit 0 encrypted, bit 3 data descriptor)
//        8    2 compression method
//       10    2 last modification time (DOS)
//       12    2 last modification date (DOS)
//       14    4 CRC-32
//       18    4 compressed size
//       22    4 uncompressed size
//       26    2 file name length n
//       28    2 extra field length e
//       30    n file name
//     30+n    e extra field
//
// Central directory header (46 bytes, then name, extra field, comment):
//   offset size field
//        0    4 signature 0x02014B50
//        4    2 version made by (upper byte: host, 0 = MS-DOS/FAT)
//        6    2 version needed to extract
//        8    2 general purpose flags
//       10    2 compression method
//       12    2 last modification time
//       14    2 last modification date
//       16    4 CRC-32
//       20    4 compressed size
//       24    4 uncompressed size
//       28    2 file name length n
//       30    2 extra field length e
//       32    2 file comment length c
//       34    2 disk number start
//       36    2 internal file attributes
//       38    4 external file attributes
//       42    4 relative offset of the local header
//       46    n file name, then e bytes extra field, then c bytes comment
//
// End of central directory record (22 bytes, then the archive comment):
//   offset size field
//        0    4 signature 0x06054B50
//        4    2 number of this disk
//        6    2 disk where the central directory starts
//        8    2 central directory entries on this disk
//       10    2 total central directory entries
//       12    4 size of the central directory
//       16    4 offset of the central directory
//       20    2 archive comment length m
//       22    m archive comment
//
// DOS date and time (32 bits): time in the low word (bits 15-11 hour, 10-5
// minute, 4-0 seconds / 2), date in the high word (bits 15-9 year - 1980,
// 8-5 month, 4-0 day), local time.
#include "zip/ZipFormat.h"

#include <algorithm>
#include <vector>

namespace nuva {

namespace {

constexpr char kBackslash = '\\';

// Clamps `value` into [lo, hi]; notes in `clamped` when it had to.
int Clamp(int value, int lo, int hi, bool& clamped) {
    if (value < lo) {
        clamped = true;
        return lo;
    }
    if (value > hi) {
        clamped = true;
        return hi;
    }
    return value;
}

}  // namespace

uint32_t SanitizeDosDateTime(uint32_t dosDateTime) {
    const unsigned time = dosDateTime & 0xFFFF;
    const unsigned date = dosDateTime >> 16;
    bool clamped = false;
    int hour = Clamp(static_cast<int>(time >> 11), 0, 23, clamped);
    int minute = Clamp(static_cast<int>((time >> 5) & 0x3F), 0, 59, clamped);
    int second = Clamp(static_cast<int>(time & 0x1F) * 2, 0, 59, clamped);
    int year = Clamp(static_cast<int>(date >> 9) + 1980, 1980, 2099, clamped);
    int month = Clamp(static_cast<int>((date >> 5) & 0x0F), 1, 12, clamped);
    int day = Clamp(static_cast<int>(date & 0x1F), 1, 31, clamped);
    if (!clamped) return dosDateTime;
    uint32_t newTime = static_cast<uint32_t>(hour << 11 | minute << 5 | second / 2);
    uint32_t newDate = static_cast<uint32_t>((year - 1980) << 9 | month << 5 | day);
    return newDate << 16 | newTime;
}

// --- TZipHeaderInfo ---------------------------------------------------------

void TZipHeaderInfo::SetFileName(const AnsiString& name) {
    fileName_ = name;
    fileNameLength = static_cast<uint16_t>(directory_.size() + fileName_.size());
}

void TZipHeaderInfo::SetDirectory(const AnsiString& dir) {
    directory_ = dir;
    if (!directory_.empty() && directory_.back() != kBackslash) directory_ += kBackslash;
    fileNameLength = static_cast<uint16_t>(directory_.size() + fileName_.size());
}

void TZipHeaderInfo::SetFileComment(const AnsiString& comment) {
    fileComment_ = comment;
    hasComment_ = true;
    fileCommentLength = static_cast<uint16_t>(comment.size());
}

void TZipHeaderInfo::ClearFileComment() {
    fileComment_.clear();
    hasComment_ = false;
    fileCommentLength = 0;
}

void TZipHeaderInfo::SetStoredName(const AnsiString& stored) {
    AnsiString name = stored;
    // A GBK trail byte is never below 0x40, so '/' is always a separator.
    std::replace(name.begin(), name.end(), '/', kBackslash);
    if (oemConvert && HostByte() == kHostMsDos) name = OemToAnsi(name);
    size_t split = LastDelimiter("\\:", name);
    if (split == AnsiString::npos) {
        directory_.clear();
        fileName_ = name;
    } else {
        directory_ = name.substr(0, split + 1);
        fileName_ = name.substr(split + 1);
    }
    fileNameLength = static_cast<uint16_t>(directory_.size() + fileName_.size());
}

void TZipHeaderInfo::AssignFrom(const TZipHeaderInfo& other) {
    bool keepConvert = oemConvert;
    *this = other;
    oemConvert = keepConvert;
}

// --- End record -------------------------------------------------------------

bool FindEndCentral(TStream& archive, TEndCentral& end) {
    end = TEndCentral();
    const int64_t length = archive.Size();
    if (length < kEndCentralSize) {
        if (length != 0) return false;
        // An empty file is an archive without entries; the record stays zero.
        end.signature = 0;
        return true;
    }
    const int64_t tailSize = std::min(kEndSearchSize, length);
    std::vector<uint8_t> tail(static_cast<size_t>(tailSize));
    if (archive.Seek(length - tailSize, soBeginning) != length - tailSize) return false;
    if (archive.Read(tail.data(), tailSize) != tailSize) return false;
    for (int64_t i = tailSize - kEndCentralSize; i >= 0; --i) {
        const uint8_t* p = tail.data() + i;
        if (p[0] != 0x50 || GetLe32(p) != kEndCentralSignature) continue;
        end.signature = kEndCentralSignature;
        end.thisDisk = GetLe16(p + 4);
        end.centralDisk = GetLe16(p + 6);
        end.entriesOnDisk = GetLe16(p + 8);
        end.totalEntries = GetLe16(p + 10);
        end.centralSize = GetLe32(p + 12);
        end.centralOffset = GetLe32(p + 16);
        end.commentLength = GetLe16(p + 20);
        end.commentOffset = length - tailSize + i + kEndCentralSize;
        return true;
    }
    return false;
}

bool CheckEndCentral(const TEndCentral& end) {
    constexpr uint16_t kMaxDisk = 999;
    return end.thisDisk <= kMaxDisk && end.centralDisk <= kMaxDisk &&
           end.thisDisk >= end.centralDisk && static_cast<int32_t>(end.centralOffset) >= 0;
}

// --- Headers ----------------------------------------------------------------

namespace {

// Reads a fixed header of `size` bytes that starts with `signature` into `h`,
// and the name that follows it (its length at `nameLengthAt`). On a short
// read or another signature the stream goes back to `start`.
bool ReadHeaderAndName(TStream& archive, int64_t start, uint8_t* h, int64_t size,
                       uint32_t signature, size_t nameLengthAt, AnsiString& stored) {
    if (archive.Read(h, size) == size && GetLe32(h) == signature) {
        const uint16_t nameLength = GetLe16(h + nameLengthAt);
        stored.assign(nameLength, '\0');
        if (archive.Read(stored.data(), nameLength) == nameLength) return true;
    }
    archive.Seek(start, soBeginning);
    return false;
}

// The fields both headers hold in the same order, from "version needed to
// extract" (`p`) to the uncompressed size.
void GetSharedFields(const uint8_t* p, TZipHeaderInfo& entry) {
    entry.versionNeeded = GetLe16(p);
    entry.flags = GetLe16(p + 2);
    entry.method = GetLe16(p + 4);
    entry.dosDateTime = SanitizeDosDateTime(GetLe32(p + 6));
    entry.crc32 = GetLe32(p + 10);
    entry.compressedSize = GetLe32(p + 14);
    entry.uncompressedSize = GetLe32(p + 18);
}

}  // namespace

bool ReadCentralHeader(TStream& archive, TZipHeaderInfo& entry) {
    const int64_t start = archive.Position();
    uint8_t h[kCentralHeaderSize];
    AnsiString stored;
    if (!ReadHeaderAndName(archive, start, h, kCentralHeaderSize, kCentralHeaderSignature, 28,
                           stored))
        return false;
    entry.versionMadeBy = GetLe16(h + 4);
    GetSharedFields(h + 6, entry);
    entry.centralExtraLength = GetLe16(h + 30);
    entry.fileCommentLength = GetLe16(h + 32);
    entry.diskNumberStart = GetLe16(h + 34);
    entry.internalAttributes = GetLe16(h + 36);
    entry.externalAttributes = GetLe32(h + 38);
    entry.localHeaderOffset = GetLe32(h + 42);
    entry.centralHeaderOffset = static_cast<uint32_t>(start);
    entry.SetStoredName(stored);
    return true;
}

bool ReadLocalHeader(TStream& archive, TZipHeaderInfo& entry) {
    const int64_t start = archive.Position();
    uint8_t h[kLocalHeaderSize];
    AnsiString stored;
    if (!ReadHeaderAndName(archive, start, h, kLocalHeaderSize, kLocalHeaderSignature, 26, stored))
        return false;
    // A local header carries no "version made by"; keep the MS-DOS default so
    // that the name rules treat it as the writer of this system does.
    GetSharedFields(h + 4, entry);
    entry.localExtraLength = GetLe16(h + 28);
    entry.localHeaderOffset = static_cast<uint32_t>(start);
    entry.SetStoredName(stored);
    return true;
}

}  // namespace nuva
