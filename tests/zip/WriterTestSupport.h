// Helpers for the writer tests: take a written archive apart record by
// record, check it with our extractor and with the outside readers that are
// installed (Python's zipfile, 7-Zip; native builds only), and make source
// files with fixed times.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "ReaderTestSupport.h"
#include "ZipBuilder.h"
#include "zip/ZipFormat.h"

namespace nuva::test {

// One entry as its central header and its local header say.
struct TWrittenEntry {
    std::string name;
    uint16_t madeBy = 0, flags = 0, method = 0, internalAttributes = 0;
    uint32_t dosDateTime = 0, crc = 0, compressedSize = 0, uncompressedSize = 0;
    uint32_t externalAttributes = 0, localOffset = 0;
    std::string centralExtra, comment, localExtra, data;
    // Local header fields that differ from the central header, by name.
    std::vector<std::string> localMismatches;
};

struct TParsedArchive {
    bool ok = false;  // the end record and every header were where they claim
    std::string error;
    uint16_t entryCount = 0;
    uint32_t centralOffset = 0, centralSize = 0;
    std::vector<TWrittenEntry> entries;
};

inline uint16_t Le16At(const std::string& s, size_t at) {
    return GetLe16(reinterpret_cast<const uint8_t*>(s.data() + at));
}
inline uint32_t Le32At(const std::string& s, size_t at) {
    return GetLe32(reinterpret_cast<const uint8_t*>(s.data() + at));
}

// Reads an archive without comment: the end record is the last 22 bytes.
inline TParsedArchive ParseArchive(const std::string& z) {
    TParsedArchive a;
    if (z.size() < 22 || Le32At(z, z.size() - 22) != kEndCentralSignature) {
        a.error = "no end record at the end";
        return a;
    }
    const size_t end = z.size() - 22;
    a.entryCount = Le16At(z, end + 10);
    a.centralSize = Le32At(z, end + 12);
    a.centralOffset = Le32At(z, end + 16);
    if (a.centralOffset + static_cast<size_t>(a.centralSize) != end) {
        a.error = "central directory does not end at the end record";
        return a;
    }
    size_t p = a.centralOffset;
    for (uint16_t i = 0; i < a.entryCount; ++i) {
        if (p + 46 > end || Le32At(z, p) != kCentralHeaderSignature) {
            a.error = "bad central header";
            return a;
        }
        TWrittenEntry e;
        e.madeBy = Le16At(z, p + 4);
        e.flags = Le16At(z, p + 8);
        e.method = Le16At(z, p + 10);
        e.dosDateTime = Le32At(z, p + 12);
        e.crc = Le32At(z, p + 16);
        e.compressedSize = Le32At(z, p + 20);
        e.uncompressedSize = Le32At(z, p + 24);
        const size_t n = Le16At(z, p + 28), x = Le16At(z, p + 30), c = Le16At(z, p + 32);
        e.internalAttributes = Le16At(z, p + 36);
        e.externalAttributes = Le32At(z, p + 38);
        e.localOffset = Le32At(z, p + 42);
        e.name = z.substr(p + 46, n);
        e.centralExtra = z.substr(p + 46 + n, x);
        e.comment = z.substr(p + 46 + n + x, c);
        p += 46 + n + x + c;

        const size_t l = e.localOffset;
        if (l + 30 > z.size() || Le32At(z, l) != kLocalHeaderSignature) {
            a.error = "bad local header";
            return a;
        }
        auto check = [&](const char* field, uint32_t local, uint32_t central) {
            if (local != central) e.localMismatches.push_back(field);
        };
        check("version", Le16At(z, l + 4), 20);
        check("flags", Le16At(z, l + 6), e.flags);
        check("method", Le16At(z, l + 8), e.method);
        check("time", Le32At(z, l + 10), e.dosDateTime);
        check("crc", Le32At(z, l + 14), e.crc);
        check("compressed", Le32At(z, l + 18), e.compressedSize);
        check("uncompressed", Le32At(z, l + 22), e.uncompressedSize);
        const size_t ln = Le16At(z, l + 26), lx = Le16At(z, l + 28);
        if (z.compare(l + 30, ln, e.name) != 0) e.localMismatches.push_back("name");
        e.localExtra = z.substr(l + 30 + ln, lx);
        e.data = z.substr(l + 30 + ln + lx, e.compressedSize);
        a.entries.push_back(e);
    }
    a.ok = p == end;
    if (!a.ok) a.error = "central directory size mismatch";
    return a;
}

// Python's zipfile and 7-Zip read the archives and check every CRC (one
// process per tool for all of them). Only native builds run them; each is
// skipped with a note when not installed.
inline void ExpectOutsideReadersAccept(const std::vector<AnsiString>& archives) {
#ifdef _WIN32
    (void)archives;
    static bool told = false;
    if (!told) std::printf("[ skipped  ] zipfile and 7-Zip checks run on native builds only\n");
    told = true;
#else
    static const bool havePython = std::system("python3 -c 0 >/dev/null 2>&1") == 0;
    static const bool have7z = std::system("7z i >/dev/null 2>&1") == 0;
    std::string quoted, selected;
    for (const AnsiString& a : archives) {
        quoted += " '" + AnsiToUtf8(a) + "'";
        selected += " '-ai!" + AnsiToUtf8(a) + "'";
    }
    if (havePython) {
        const std::string check =
            "python3 -c \"import zipfile,sys; sys.exit(any("
            "zipfile.ZipFile(a).testzip() is not None for a in sys.argv[1:]))\"" +
            quoted + " >/dev/null 2>&1";
        EXPECT_EQ(std::system(check.c_str()), 0) << "zipfile rejects one of" << quoted;
    } else {
        std::printf("[ skipped  ] python3 not found; zipfile check left out\n");
    }
    if (have7z) {
        EXPECT_EQ(std::system(("7z t -an" + selected + " >/dev/null 2>&1").c_str()), 0)
            << "7z rejects one of" << quoted;
    } else {
        std::printf("[ skipped  ] 7z not found; 7-Zip check left out\n");
    }
#endif
}
inline void ExpectOutsideReadersAccept(const AnsiString& archive) {
    ExpectOutsideReadersAccept(std::vector<AnsiString>{archive});
}

// Our extractor gives back exactly `expected` (file name -> content).
inline void ExpectExtractsTo(const AnsiString& archive,
                             const std::map<std::string, std::string>& expected) {
    TTempDir out;
    TExtractOutcome r = ExtractFile(archive, out / "x");
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.files, expected);
}

// A DOS time in range for every file the tests write: 2024-06-01 10:20:30.
inline constexpr uint32_t kFixedDosTime =
    (44u << 25 | 6u << 21 | 1u << 16) | (10u << 11 | 20u << 5 | 15u);

// Writes a source file and gives it a fixed time.
inline void WriteSource(const AnsiString& path, const std::string& bytes,
                        uint32_t dosTime = kFixedDosTime) {
    WriteAll(path, bytes);
    ASSERT_TRUE(SetFileAgeDos(path, dosTime));
}

// Pseudo-random text-like and binary inputs, the same on every run.
inline std::string MakeInput(size_t size, unsigned seed, bool text) {
    std::string s(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    static const char kWords[] = "the quick brown fox jumps over lazy dogs 0123456789\n";
    for (size_t i = 0; i < size; ++i) {
        x = x * 1664525u + 1013904223u;
        s[i] = text ? kWords[(x >> 16) % (sizeof kWords - 1)] : static_cast<char>(x >> 24);
    }
    return s;
}

}  // namespace nuva::test
