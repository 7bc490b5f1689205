// Helpers for the compressor tests: memory stages, a zlib round trip (zlib
// is the black-box oracle), input generators, and a small decoder that lists
// a raw deflate stream's blocks and symbols so tests can check the choices
// the compressor made, not just that the bytes come back. (In a namespace of
// their own: other codec tests share the test program.)
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "zip/codec/CodecIO.h"
#include "zip/codec/Deflate.h"

namespace nuva::test::deflatetest {

using Bytes = std::vector<uint8_t>;

inline Bytes ToBytes(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// Serves a buffer in reads of at most `chunk` bytes (0 = as many as asked)
// and keeps the running CRC-32 the way the zip writer's read routine does.
class TMemorySource : public TCodecInput {
  public:
    explicit TMemorySource(const Bytes& data, size_t chunk = 0) : data_(data), chunk_(chunk) {}
    size_t Read(uint8_t* dest, size_t capacity) override {
        size_t n = std::min(capacity, data_.size() - pos_);
        if (chunk_ != 0) n = std::min(n, chunk_);
        if (n > 0) std::memcpy(dest, data_.data() + pos_, n);
        crc_ = crc32(crc_, dest, static_cast<uInt>(n));
        pos_ += n;
        return n;
    }
    uint32_t Crc() const { return static_cast<uint32_t>(crc_); }

  private:
    const Bytes& data_;
    size_t chunk_;
    size_t pos_ = 0;
    uLong crc_ = crc32(0, nullptr, 0);
};

// Collects everything written; optionally throws once `failAfter` bytes
// have arrived (a full disk).
class TMemorySink : public TCodecOutput {
  public:
    void Write(const uint8_t* data, size_t count) override {
        if (failAfter_ >= 0 && static_cast<int64_t>(bytes.size() + count) > failAfter_)
            throw std::runtime_error("disk full");
        bytes.insert(bytes.end(), data, data + count);
        ++writes;
    }
    Bytes bytes;
    int writes = 0;
    int64_t failAfter_ = -1;
};

struct TCompressed {
    Bytes bytes;
    int64_t returned = 0;
    TDeflateEntry entry;
};

inline TCompressed Compress(TDeflater& deflater, const Bytes& input, int level,
                            TDeflateEntry entry = {}) {
    TMemorySource source(input);
    TMemorySink sink;
    TCompressed result;
    result.returned = deflater.Run(source, sink, level, entry);
    result.bytes = std::move(sink.bytes);
    result.entry = entry;
    return result;
}

inline TCompressed Compress(const Bytes& input, int level, TDeflateEntry entry = {}) {
    TDeflater deflater;
    return Compress(deflater, input, level, entry);
}

// Inflates a raw deflate stream with zlib; false when zlib rejects it or it
// does not end exactly at the end of the bytes.
inline bool ZlibInflate(const Bytes& compressed, Bytes& out) {
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) return false;
    out.clear();
    z.next_in = const_cast<Bytef*>(compressed.data());
    z.avail_in = static_cast<uInt>(compressed.size());
    uint8_t chunk[65536];
    int rc;
    do {
        z.next_out = chunk;
        z.avail_out = sizeof chunk;
        rc = inflate(&z, Z_NO_FLUSH);
        out.insert(out.end(), chunk, chunk + (sizeof chunk - z.avail_out));
    } while (rc == Z_OK);
    const bool ok = rc == Z_STREAM_END && z.avail_in == 0;
    inflateEnd(&z);
    return ok;
}

// What the entry's bytes mean: raw data when the compressor stored it
// whole, else a deflate stream.
inline bool Restore(const TCompressed& c, Bytes& out) {
    if (c.entry.method == 0) {
        out = c.bytes;
        return true;
    }
    return ZlibInflate(c.bytes, out);
}

// Deterministic generators.
inline Bytes RandomBytes(size_t n, uint32_t seed, int alphabet = 256, int base = 0) {
    Bytes out(n);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = static_cast<uint8_t>(base + (x >> 8) % static_cast<uint32_t>(alphabet));
    }
    return out;
}

// Random bytes in which no 3-byte string occurs twice: the compressor finds
// no match at all, so every byte is one literal symbol.
inline Bytes RandomBytesWithoutRepeats(size_t n, uint32_t seed) {
    Bytes out = RandomBytes(n, seed);
    std::vector<bool> seen(size_t{1} << 24);
    for (size_t i = 2; i < n; ++i) {
        size_t triple = (size_t{out[i - 2]} << 16) | (size_t{out[i - 1]} << 8) | out[i];
        while (seen[triple]) {
            out[i] = static_cast<uint8_t>(out[i] + 1);
            triple = (triple & ~size_t{0xFF}) | out[i];
        }
        seen[triple] = true;
    }
    return out;
}

inline Bytes EnglishLikeText(size_t n, uint32_t seed) {
    static const char* const kWords[] = {
        "the ",    "archive ",  "entry ", "window ", "of ",     "and ",   "block ",   "match ",
        "length ", "distance ", "code ",  "tree ",   "stored ", "fixed ", "dynamic ", "to ",
        "input ",  "output ",   "byte ",  "bits\n",  "a ",      "is ",    "server ",  "reply "};
    const Bytes pick = RandomBytes(n, seed);
    std::string s;
    for (size_t i = 0; s.size() < n; ++i) s += kWords[pick[i % pick.size()] % 24];
    s.resize(n);
    return ToBytes(s);
}

// A business XML message with GBK text in its values.
inline Bytes GbkXml(int items) {
    std::string s = "<?xml version=\"1.0\" encoding=\"GBK\"?>\r\n<PDU><SENDER>0101</SENDER>";
    const char* const kNames[] = {"\xd5\xcb\xbb\xa7", "\xbd\xf0\xb6\xee", "\xc8\xd5\xc6\xda",
                                  "\xb1\xb8\xd7\xa2\xd0\xc5\xcf\xa2"};
    for (int i = 0; i < items; ++i) {
        s += "<CONTENT><NAME>item" + std::to_string(i) + "</NAME><VALUE>";
        s += kNames[i % 4];
        s += std::to_string(i * 7919 % 100000) + kNames[(i / 4) % 4] + "</VALUE></CONTENT>\r\n";
    }
    s += "</PDU>";
    return ToBytes(s);
}

// One decoded symbol: a literal, or a match, at its offset in the input.
struct TSymbol {
    size_t offset;
    int literal;  // -1 for a match
    int length;
    int distance;
};

struct TBlockInfo {
    int type;  // 0 stored, 1 fixed, 2 dynamic
    bool last;
    size_t startBit;  // bit offset of the block header
    size_t endBit;    // bit offset after the block
    size_t storedLength = 0;
    bool storedAligned = false;  // padding bits zero and NLEN = ~LEN
    int longestLitLenCode = 0;   // dynamic blocks: bits of the longest literal/length code
    std::vector<TSymbol> symbols;
};

// Lists the blocks of a raw deflate stream. Throws on malformed input.
class TSymbolDecoder {
  public:
    explicit TSymbolDecoder(const Bytes& in) : in_(in) {}

    std::vector<TBlockInfo> Decode() {
        std::vector<TBlockInfo> blocks;
        bool last = false;
        while (!last) {
            TBlockInfo b;
            b.startBit = bit_;
            last = b.last = Bits(1) == 1;
            b.type = static_cast<int>(Bits(2));
            if (b.type == 0) {
                const size_t pad = (8 - bit_ % 8) % 8;
                const bool padZero = Bits(static_cast<int>(pad)) == 0;
                const uint32_t len = Bits(16);
                const uint32_t nlen = Bits(16);
                b.storedLength = len;
                b.storedAligned = padZero && ((len ^ 0xFFFF) == nlen);
                for (uint32_t i = 0; i < len; ++i) out.push_back(static_cast<uint8_t>(Bits(8)));
            } else if (b.type == 1) {
                std::vector<int> lit(288), dist(30, 5);
                for (int i = 0; i < 288; ++i) lit[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
                Symbols(THuffman(lit), THuffman(dist), b);
            } else if (b.type == 2) {
                const int hlit = static_cast<int>(Bits(5)) + 257;
                const int hdist = static_cast<int>(Bits(5)) + 1;
                const int hclen = static_cast<int>(Bits(4)) + 4;
                static const int kOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                               11, 4,  12, 3, 13, 2, 14, 1, 15};
                std::vector<int> cl(19, 0);
                for (int i = 0; i < hclen; ++i) cl[kOrder[i]] = static_cast<int>(Bits(3));
                THuffman clh(cl);
                std::vector<int> lengths;
                while (static_cast<int>(lengths.size()) < hlit + hdist) {
                    const int sym = Decode(clh);
                    if (sym < 16) {
                        lengths.push_back(sym);
                    } else if (sym == 16) {
                        if (lengths.empty()) throw std::runtime_error("repeat without length");
                        const int n = 3 + static_cast<int>(Bits(2));
                        lengths.insert(lengths.end(), n, lengths.back());
                    } else {
                        const int n = sym == 17 ? 3 + static_cast<int>(Bits(3))
                                                : 11 + static_cast<int>(Bits(7));
                        lengths.insert(lengths.end(), n, 0);
                    }
                }
                std::vector<int> lit(lengths.begin(), lengths.begin() + hlit);
                for (int l : lit) b.longestLitLenCode = std::max(b.longestLitLenCode, l);
                std::vector<int> dist(lengths.begin() + hlit, lengths.begin() + hlit + hdist);
                Symbols(THuffman(lit), THuffman(dist), b);
            } else {
                throw std::runtime_error("block type 3");
            }
            b.endBit = bit_;
            blocks.push_back(std::move(b));
        }
        return blocks;
    }

    Bytes out;

  private:
    struct THuffman {
        explicit THuffman(const std::vector<int>& lengths) {
            count.assign(16, 0);
            for (int l : lengths) ++count[l];
            count[0] = 0;
            std::vector<int> offs(16, 0);
            for (int l = 1; l < 16; ++l) offs[l] = offs[l - 1] + count[l - 1];
            symbol.resize(lengths.size());
            for (size_t s = 0; s < lengths.size(); ++s)
                if (lengths[s] != 0) symbol[offs[lengths[s]]++] = static_cast<int>(s);
        }
        std::vector<int> count;
        std::vector<int> symbol;
    };

    uint32_t Bits(int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i, ++bit_) {
            if (bit_ / 8 >= in_.size()) throw std::runtime_error("out of input");
            v |= static_cast<uint32_t>((in_[bit_ / 8] >> (bit_ % 8)) & 1) << i;
        }
        return v;
    }

    int Decode(const THuffman& h) {
        int code = 0, first = 0, index = 0;
        for (int len = 1; len < 16; ++len) {
            code |= static_cast<int>(Bits(1));
            const int count = h.count[len];
            if (code - first < count) return h.symbol[index + (code - first)];
            index += count;
            first = (first + count) << 1;
            code <<= 1;
        }
        throw std::runtime_error("bad code");
    }

    void Symbols(const THuffman& lit, const THuffman& dist, TBlockInfo& b) {
        static const int kBase[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                      15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                      67, 83, 99, 115, 131, 163, 195, 227, 258};
        static const int kExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                       2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
        static const int kDBase[30] = {
            1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
            193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
        for (;;) {
            const int sym = Decode(lit);
            if (sym < 256) {
                b.symbols.push_back({out.size(), sym, 1, 0});
                out.push_back(static_cast<uint8_t>(sym));
            } else if (sym == 256) {
                return;
            } else {
                const int li = sym - 257;
                if (li >= 29) throw std::runtime_error("bad length code");
                const int length = kBase[li] + static_cast<int>(Bits(kExtra[li]));
                const int dc = Decode(dist);
                if (dc >= 30) throw std::runtime_error("bad distance code");
                const int distance = kDBase[dc] + static_cast<int>(Bits(dc < 4 ? 0 : dc / 2 - 1));
                if (static_cast<size_t>(distance) > out.size())
                    throw std::runtime_error("distance too far");
                b.symbols.push_back({out.size(), -1, length, distance});
                for (int i = 0; i < length; ++i) out.push_back(out[out.size() - distance]);
            }
        }
    }

    const Bytes& in_;
    size_t bit_ = 0;
};

// All symbols of all blocks, in order.
inline std::vector<TSymbol> AllSymbols(const std::vector<TBlockInfo>& blocks) {
    std::vector<TSymbol> all;
    for (const TBlockInfo& b : blocks) all.insert(all.end(), b.symbols.begin(), b.symbols.end());
    return all;
}

}  // namespace nuva::test::deflatetest
