// Builds zip archives byte by byte for the reader tests: every field can be
// set to a wrong value, so that damaged and hostile archives are easy to make.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "zip/Crc32.h"

namespace nuva::test {

inline void PutLe16(std::string& s, uint32_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
}
inline void PutLe32(std::string& s, uint32_t v) {
    PutLe16(s, v & 0xFFFF);
    PutLe16(s, v >> 16);
}
inline void SetLe16(std::string& s, size_t at, uint32_t v) {
    s[at] = static_cast<char>(v & 0xFF);
    s[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}
inline void SetLe32(std::string& s, size_t at, uint32_t v) {
    SetLe16(s, at, v & 0xFFFF);
    SetLe16(s, at + 2, v >> 16);
}

// A raw deflate stream (no zlib wrapper) made by zlib.
inline std::string RawDeflate(const std::string& data, int level = 6) {
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, static_cast<uLong>(data.size())) + 16, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

struct TTestEntry {
    TTestEntry(std::string n, std::string d = "") : name(std::move(n)), data(std::move(d)) {}
    std::string name;
    std::string data;
    uint16_t method = 0;  // 0 stored, 8 deflated (zlib), others: `compressed`
    uint16_t flags = 0;
    uint8_t host = 0;  // upper byte of "version made by"
    uint32_t externalAttributes = 0x20;
    uint32_t dosDateTime = 0x5A8C6000;      // 2025-04-12 12:00:00
    std::optional<std::string> compressed;  // the entry data as stored
    std::optional<uint32_t> crc, compressedSize, uncompressedSize;
    std::string localExtra, centralExtra;
    std::optional<uint16_t> centralExtraLength;  // may claim bytes that are not there
    std::string comment;
};

struct TBuiltZip {
    std::string bytes;
    std::vector<size_t> localOffsets;
    std::vector<size_t> centralOffsets;
    size_t centralOffset = 0;
    size_t endOffset = 0;
};

struct TEndOverrides {
    std::optional<uint16_t> thisDisk, centralDisk, entries;
    std::optional<uint32_t> centralOffset;
    std::string comment;
    std::string prefix;  // bytes before the first local header (offsets not shifted)
};

inline TBuiltZip BuildZip(const std::vector<TTestEntry>& entries, const TEndOverrides& o = {}) {
    TBuiltZip z;
    z.bytes = o.prefix;
    // The fields the local and central headers share, from "version needed
    // to extract" to the name length.
    auto putShared = [](std::string& b, const TTestEntry& e, const std::string& data) {
        PutLe16(b, 20);
        PutLe16(b, e.flags);
        PutLe16(b, e.method);
        PutLe32(b, e.dosDateTime);
        PutLe32(b, e.crc ? *e.crc : Crc32(e.data.data(), e.data.size()));
        PutLe32(b, e.compressedSize ? *e.compressedSize : static_cast<uint32_t>(data.size()));
        PutLe32(b, e.uncompressedSize ? *e.uncompressedSize : static_cast<uint32_t>(e.data.size()));
        PutLe16(b, static_cast<uint32_t>(e.name.size()));
    };
    std::vector<std::string> stored;
    for (const TTestEntry& e : entries) {
        std::string data = e.compressed    ? *e.compressed
                           : e.method == 8 ? RawDeflate(e.data)
                                           : e.data;
        z.localOffsets.push_back(z.bytes.size());
        std::string& b = z.bytes;
        PutLe32(b, 0x04034B50);
        putShared(b, e, data);
        PutLe16(b, static_cast<uint32_t>(e.localExtra.size()));
        b += e.name + e.localExtra + data;
        stored.push_back(std::move(data));
    }
    z.centralOffset = z.bytes.size();
    for (size_t i = 0; i < entries.size(); ++i) {
        const TTestEntry& e = entries[i];
        z.centralOffsets.push_back(z.bytes.size());
        std::string& b = z.bytes;
        PutLe32(b, 0x02014B50);
        PutLe16(b, static_cast<uint32_t>(e.host) << 8 | 20);
        putShared(b, e, stored[i]);
        PutLe16(b, e.centralExtraLength ? *e.centralExtraLength
                                        : static_cast<uint32_t>(e.centralExtra.size()));
        PutLe16(b, static_cast<uint32_t>(e.comment.size()));
        PutLe16(b, 0);
        PutLe16(b, 0);
        PutLe32(b, e.externalAttributes);
        PutLe32(b, static_cast<uint32_t>(z.localOffsets[i] - o.prefix.size()));
        b += e.name + e.centralExtra + e.comment;
    }
    z.endOffset = z.bytes.size();
    std::string& b = z.bytes;
    const uint32_t count = static_cast<uint32_t>(entries.size());
    PutLe32(b, 0x06054B50);
    PutLe16(b, o.thisDisk.value_or(0));
    PutLe16(b, o.centralDisk.value_or(0));
    PutLe16(b, o.entries.value_or(count));
    PutLe16(b, o.entries.value_or(count));
    PutLe32(b, static_cast<uint32_t>(z.endOffset - z.centralOffset));
    PutLe32(b, o.centralOffset.value_or(static_cast<uint32_t>(z.centralOffset - o.prefix.size())));
    PutLe16(b, static_cast<uint32_t>(o.comment.size()));
    b += o.comment;
    return z;
}

}  // namespace nuva::test
