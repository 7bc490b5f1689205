// The reader over archives built byte by byte: the written behaviour and the
// faults mended in it, one test per fault.
#include "zip/ZipReader.h"

#include <gtest/gtest.h>

#include "ReaderTestSupport.h"
#include "ZipBuilder.h"
#include "zip/CompressUtil.h"

namespace nuva {
namespace {

using test::BuildZip;
using test::ExtractBytes;
using test::TTestEntry;

using TFiles = std::map<std::string, std::string>;

TEST(ZipReader, ExtractsStoredEntriesUnderTheirFileNames) {
    auto z = BuildZip({{"one.txt", "first"}, {"sub/dir/two.txt", "second"}, {"sub/", ""}});
    auto r = ExtractBytes(z.bytes);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.count, 3);  // the directory entry counts as extracted
    EXPECT_EQ(r.fileEntries, 2);
    EXPECT_EQ(r.files, (TFiles{{"one.txt", "first"}, {"two.txt", "second"}}));
    EXPECT_EQ(r.written, (std::vector<AnsiString>{"one.txt", "two.txt"}));
}

TEST(ZipReader, DeflatedEntryIsDecoded) {
    std::string text(5000, 'z');
    for (size_t i = 0; i < text.size(); i += 7) text[i] = static_cast<char>('a' + i % 13);
    TTestEntry e{"d.txt", text};
    e.method = 8;
    auto r = ExtractBytes(BuildZip({e}).bytes);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.files, (TFiles{{"d.txt", text}}));
}

TEST(ZipReader, ZeroLengthArchiveCreatesTheDestinationAndExtractsNothing) {
    test::TTempDir dir;
    test::WriteAll(dir / "empty.zip", "");
    auto r = test::ExtractFile(dir / "empty.zip", dir / "new/deeper");
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.count, 0);
    EXPECT_TRUE(DirectoryExists(dir / "new/deeper"));
    EXPECT_TRUE(UnzipToDir(dir / "empty.zip", dir / "again"));
}

TEST(ZipReader, ShortFilesAndMissingEndRecordAreIncomplete) {
    std::string full = BuildZip({{"a", "b"}}).bytes;
    for (size_t n = 1; n <= 21; ++n)
        EXPECT_EQ(ExtractBytes(full.substr(0, n)).error, "Incomplete Zip File") << n;
    std::string far = BuildZip({{"a", "b"}}).bytes + std::string(65536, '\0');
    EXPECT_EQ(ExtractBytes(far).error, "Incomplete Zip File");
}

TEST(ZipReader, MaximumCommentIsFound) {
    test::TEndOverrides o;
    o.comment.assign(65535, '#');
    auto r = ExtractBytes(BuildZip({{"a.txt", "payload"}}, o).bytes);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.files, (TFiles{{"a.txt", "payload"}}));
}

TEST(ZipReader, TwoEndSignaturesTheLastWins) {
    std::string fake = BuildZip({}).bytes;  // an end record claiming no entries
    auto r = ExtractBytes(BuildZip({{"inner.bin", fake}, {"b.txt", "bee"}}).bytes);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.files, (TFiles{{"inner.bin", fake}, {"b.txt", "bee"}}));
}

TEST(ZipReader, BadDiskNumbersAreIncomplete) {
    struct {
        uint16_t thisDisk, centralDisk;
    } cases[] = {{1000, 0}, {0, 1000}, {1, 2}};
    for (const auto& c : cases) {
        test::TEndOverrides o;
        o.thisDisk = c.thisDisk;
        o.centralDisk = c.centralDisk;
        EXPECT_EQ(ExtractBytes(BuildZip({{"a", "b"}}, o).bytes).error, "Incomplete Zip File")
            << c.thisDisk << "/" << c.centralDisk;
    }
}

TEST(ZipReader, GarbageCentralDirectoryIsRebuiltFromLocalHeaders) {
    auto z = BuildZip({{"one.txt", "first"}, {"two.txt", "second second"}});
    for (size_t i = z.centralOffset; i < z.endOffset; ++i) z.bytes[i] = static_cast<char>(0xA5 ^ i);
    auto r = ExtractBytes(z.bytes);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.files, (TFiles{{"one.txt", "first"}, {"two.txt", "second second"}}));
}

TEST(ZipReader, RebuildWithNoLocalHeaderIsNotAValidZipFile) {
    test::TEndOverrides o;
    o.entries = 1;
    o.centralOffset = 0;
    std::string bytes = std::string(40, 'x') + BuildZip({}, o).bytes;
    auto r = ExtractBytes(bytes);
    EXPECT_EQ(r.error, "Not a valid zip file!");
}

TEST(ZipReader, CentralExtraLengthThatClaimsMissingBytesIsAccepted) {
    TTestEntry a{"a.txt", "alpha"};
    a.centralExtraLength = 6;  // no extra bytes follow the name
    auto r = ExtractBytes(BuildZip({a, {"b.txt", "beta"}}).bytes);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.files, (TFiles{{"a.txt", "alpha"}, {"b.txt", "beta"}}));
}

// Two central headers naming one local header make the reader rebuild the
// list from the local headers; both central headers then merge into the
// entry at that offset, so the later one's CRC and size fail it, and the
// other entry comes from its local header alone.
TEST(ZipReader, DuplicateLocalOffsetsAreRebuilt) {
    auto z = BuildZip({{"a.txt", "alpha"}, {"b.txt", "beta"}});
    test::SetLe32(z.bytes, z.centralOffsets[1] + 42, 0);  // b claims a's local header
    auto r = ExtractBytes(z.bytes);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.fileEntries, 2);
    EXPECT_EQ(r.filesExtracted, 1);
    EXPECT_EQ(r.files, (TFiles{{"b.txt", "beta"}}));
}

// --- Mended faults --------------------------------------------------------

TEST(ZipReaderFault, SizesReadUnsignedAndDataPastTheEndIsPrematureEnd) {
    struct {
        uint32_t compressedSize;
        uint32_t localOffset;
    } cases[] = {{0xFFFFFFF0, 0}, {0x80000000, 0}, {100, 0}, {5, 0xFFFFFF00}};
    for (const auto& c : cases) {
        TTestEntry e{"a.txt", "alpha"};
        e.compressedSize = c.compressedSize;
        auto z = BuildZip({e});
        test::SetLe32(z.bytes, z.centralOffsets[0] + 42, c.localOffset);
        auto r = ExtractBytes(z.bytes);
        EXPECT_EQ(r.error, "Premature end of file reached")
            << c.compressedSize << "@" << c.localOffset;
        EXPECT_EQ(r.files, TFiles{}) << "no partial output";
    }
}

TEST(ZipReaderFault, ShortLocalHeaderIsPrematureEnd) {
    auto z = BuildZip({{"a.txt", "alpha"}});
    test::SetLe32(z.bytes, z.centralOffsets[0] + 42, static_cast<uint32_t>(z.bytes.size() - 10));
    EXPECT_EQ(ExtractBytes(z.bytes).error, "Premature end of file reached");
}

TEST(ZipReaderFault, RebuildWalkOnlyMovesForwardAndStopsAtTheEnd) {
    // Sizes that would wrap a 32-bit position or point past the end.
    for (uint32_t size : {0xFFFFFFFFu, 0xFFFFFFE2u, 0x7FFFFFFFu}) {
        TTestEntry a{"a.txt", "alpha"};
        a.compressedSize = size;
        auto z = BuildZip({a, {"b.txt", "beta"}});
        for (size_t i = z.centralOffset; i < z.endOffset; ++i) z.bytes[i] = 'g';
        auto r = ExtractBytes(z.bytes);
        EXPECT_EQ(r.error, "Premature end of file reached") << size;
        EXPECT_EQ(r.fileEntries, 1) << "the walk stopped after the first header";
    }
}

TEST(ZipReaderFault, RebuildStopsAtAsManyEntriesAsADirectoryCounts) {
    // Two central headers naming one local header send the reader to the
    // local headers, of which there are more than a directory can count.
    auto z = BuildZip({{"a", ""}, {"b", ""}});
    test::SetLe32(z.bytes, z.centralOffsets[1] + 42, 0);
    const std::string header =
        z.bytes.substr(z.localOffsets[1], z.centralOffset - z.localOffsets[1]);
    std::string many;
    many.reserve(header.size() * 70000);
    for (int i = 0; i < 70000; ++i) many += header;
    z.bytes.insert(z.centralOffset, many);
    test::SetLe32(z.bytes, z.endOffset + many.size() + 16,
                  static_cast<uint32_t>(z.centralOffset + many.size()));
    auto r = ExtractBytes(z.bytes, [](TZipReader& reader) { reader.DoAll = false; });
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.fileEntries, 65535);
}

TEST(ZipReaderFault, UnknownMethodsShowOneBoxPerArchive) {
    std::vector<TTestEntry> entries;
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
        TTestEntry e{name, "x"};
        e.method = 99;
        e.compressed = "x";
        entries.push_back(e);
    }
    test::TakeMessageBoxes();
    auto r = ExtractBytes(BuildZip(entries).bytes);
    EXPECT_EQ(r.filesExtracted, 0);
    EXPECT_EQ(test::TakeMessageBoxes().size(), 1u);
}

TEST(ZipReaderFault, OverlappingEntriesAreFailed) {
    // a's data, by its central size, runs into b's local header.
    TTestEntry a{"a.txt", "alpha"};
    auto z = BuildZip({a, {"b.txt", "beta"}});
    const uint32_t reach =
        static_cast<uint32_t>(z.localOffsets[1] - z.localOffsets[0] - 30 - 5 + 10);
    test::SetLe32(z.bytes, z.centralOffsets[0] + 20, reach);
    auto r = ExtractBytes(z.bytes);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.count, 1);
    EXPECT_EQ(r.files, (TFiles{{"b.txt", "beta"}}));
    test::TTempDir dir;
    test::WriteAll(dir / "o.zip", z.bytes);
    EXPECT_FALSE(UnzipToDir(dir / "o.zip", dir / "out"));
}

TEST(ZipReaderFault, AttributesOnlyFromMsDosHostMasked) {
    struct {
        uint8_t host;
        uint32_t attributes;
        bool readOnly;
    } cases[] = {
        {0, 0x21, true},        {0, 0x20, false}, {0, 0xFFFFFFFF, true},  // masked to 0x27
        {3, 0x81240001, false},  // Unix mode bits: not platform attributes
        {11, 0x01, false},       // NTFS host: not taken either
    };
    for (const auto& c : cases) {
        TTestEntry e{"f.txt", "data"};
        e.host = c.host;
        e.externalAttributes = c.attributes;
        test::TTempDir dir;
        test::WriteAll(dir / "a.zip", BuildZip({e}).bytes);
        auto r = test::ExtractFile(dir / "a.zip", dir / "out");
        ASSERT_EQ(r.error, "");
        const int32_t got = GetFileAttributes(dir / "out/f.txt");
        ASSERT_GE(got, 0);
        EXPECT_EQ((got & faReadOnly) != 0, c.readOnly) << int(c.host) << " " << c.attributes;
        EXPECT_EQ(got & faDirectory, 0);
    }
}

TEST(ZipReaderFault, UnsafeNamesAreSkippedAndCountAsFailed) {
    struct {
        const char* name;
        bool extracted;
    } cases[] = {
        {".", false},
        {"..", false},
        {"sub/..", false},
        {"../evil.txt", false},
        {"a/../../evil.txt", false},
        {"/abs.txt", false},
        {"\\abs.txt", false},
        {"C:evil.txt", false},
        {"c:/evil.txt", false},
        {"CON", false},
        {"con.txt", false},
        {"Lpt9.log", false},
        {"com1", false},
        {"nul.tar.gz", false},
        {"AUX ", false},
        {"bad\x01name", false},
        {"tab\tname", false},
        {"...", false},
        {"CONSOLE.txt", true},
        {"COM10", true},
        {"LPT0.txt", true},
        {"a/b/ok.txt", true},
        {"..dots", true},
        {"\xD5\x5C.txt", true},
    };
    for (const auto& c : cases) {
        test::TTempDir dir;
        test::WriteAll(dir / "a.zip", BuildZip({{c.name, "x"}, {"keep.txt", "k"}}).bytes);
        auto r = test::ExtractFile(dir / "a.zip", dir / "out/in");
        EXPECT_EQ(r.error, "") << c.name;
        EXPECT_EQ(r.filesExtracted, c.extracted ? 2 : 1) << c.name;
        EXPECT_EQ(r.files.size(), c.extracted ? 2u : 1u) << c.name;
        // Nothing lands beside the destination.
        EXPECT_EQ(test::FilesIn(dir / "out"), (TFiles{{"in", "<dir>"}})) << c.name;
        EXPECT_EQ(test::FilesIn(dir.Path()).size(), 2u) << c.name;
        EXPECT_EQ(UnzipToDir(dir / "a.zip", dir / "out2"), c.extracted) << c.name;
    }
}

TEST(ZipReaderFault, FailedEntriesMakeUnzipToDirFalse) {
    TTestEntry badCrc{"crc.txt", "data"};
    badCrc.crc = 0x12345678;
    TTestEntry encrypted{"enc.txt", "data"};
    encrypted.flags = 1;
    TTestEntry unknown{"unk.txt", "data"};
    unknown.method = 99;
    TTestEntry bigger{"big.txt", "0123456789"};
    bigger.uncompressedSize = 5;
    TTestEntry shorter{"short.txt", "0123456789"};
    shorter.uncompressedSize = 20;
    for (const TTestEntry& bad : {badCrc, encrypted, unknown, bigger, shorter}) {
        test::TTempDir dir;
        test::WriteAll(dir / "a.zip", BuildZip({{"good.txt", "g"}, bad}).bytes);
        test::TakeMessageBoxes();
        std::vector<AnsiString> written;
        EXPECT_FALSE(UnzipToDirListing(dir / "a.zip", dir / "out", written)) << bad.name;
        ASSERT_EQ(written.size(), 1u) << bad.name;
        EXPECT_EQ(ExtractFileName(written[0]), "good.txt");
        EXPECT_EQ(test::FilesIn(dir / "out"), (TFiles{{"good.txt", "g"}}))
            << bad.name << " left behind";
        auto boxes = test::TakeMessageBoxes();
        if (bad.method == 99) {
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].text, "Unknown Compression Method");
            EXPECT_EQ(boxes[0].caption, "Zip Error");
        } else {
            EXPECT_TRUE(boxes.empty()) << bad.name;
        }
    }
}

TEST(ZipReaderFault, ListingHoldsOnlyFilesThisExtractionWrote) {
    test::TTempDir dir;
    test::WriteAll(
        dir / "a.zip",
        BuildZip({{"x/same.txt", "first"}, {"new.txt", "n"}, {"y/same.txt", "second"}}).bytes);
    ForceDirectories(dir / "out");
    test::WriteAll(dir / "out/old.txt", "was here");
    test::WriteAll(dir / "out/new.txt", "replaced without a question");
    std::vector<AnsiString> written;
    EXPECT_TRUE(UnzipToDirListing(dir / "a.zip", dir / "out", written));
    EXPECT_EQ(written, (std::vector<AnsiString>{dir / "out/same.txt", dir / "out/new.txt"}));
    EXPECT_EQ(test::FilesIn(dir / "out"),
              (TFiles{{"old.txt", "was here"}, {"new.txt", "n"}, {"same.txt", "second"}}));
}

TEST(ZipReader, ExtractedFileTakesTheEntryDate) {
    TTestEntry e{"dated.txt", "d"};
    e.dosDateTime = 0x5A8C6000;
    TTestEntry bad{"baddate.txt", "b"};
    bad.dosDateTime = 0;  // sanitised to 1980-01-01
    auto z = BuildZip({e, bad});
    test::TTempDir dir;
    test::WriteAll(dir / "a.zip", z.bytes);
    ASSERT_EQ(test::ExtractFile(dir / "a.zip", dir / "out").error, "");
    EXPECT_EQ(static_cast<uint32_t>(FileAgeDos(dir / "out/dated.txt")), 0x5A8C6000u);
    EXPECT_EQ(static_cast<uint32_t>(FileAgeDos(dir / "out/baddate.txt")), 0x00210000u);
}

TEST(ZipReader, MissingArchiveRaisesTheOpenErrorAndCreatesNothing) {
    test::TTempDir dir;
    try {
        UnzipToDir(dir / "missing.zip", dir / "out");
        FAIL() << "no exception";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(
            std::string(e.what()).rfind("Cannot open file \"" + (dir / "missing.zip") + "\". ", 0),
            0u);
    }
    EXPECT_FALSE(DirectoryExists(dir / "out"));
}

TEST(ZipReader, StaleCompanionDirectoryFileIsIgnored) {
    test::TTempDir dir;
    test::WriteAll(dir / "a.zip", "not an archive at all, but long enough to search");
    test::WriteAll(dir / "a.zfc", BuildZip({{"ghost.txt", "boo"}}).bytes);
    auto r = test::ExtractFile(dir / "a.zip", dir / "out");
    EXPECT_EQ(r.error, "Incomplete Zip File");
    EXPECT_EQ(r.files, TFiles{});
}

TEST(ZipReader, PendingCancelRaisesUserAborted) {
    test::TTempDir dir;
    test::WriteAll(dir / "a.zip", BuildZip({{"a.txt", std::string(70000, 'a')}}).bytes);
    TZipReader* running = nullptr;
    int pumps = 0;
    auto previous = SetMessagePumpHandler([&] {
        if (++pumps == 2 && running) running->Cancel();
    });
    auto r = test::ExtractFile(dir / "a.zip", dir / "out", [&](TZipReader& z) { running = &z; });
    SetMessagePumpHandler(previous);
    EXPECT_EQ(r.error, "User Aborted Operation");
    EXPECT_EQ(pumps, 2) << "one pump per 32 KiB chunk";
    EXPECT_EQ(r.files, TFiles{}) << "the partial output is deleted";
}

TEST(ZipReader, ReadOnlyTargetIsNotReplaced) {
    test::TTempDir dir;
    test::WriteAll(dir / "a.zip", BuildZip({{"ro.txt", "new"}}).bytes);
    ForceDirectories(dir / "out");
    test::WriteAll(dir / "out/ro.txt", "old");
    SetFileAttributes(dir / "out/ro.txt", faReadOnly);
    auto r = test::ExtractFile(dir / "a.zip", dir / "out");
    EXPECT_EQ(r.filesExtracted, 0);
    EXPECT_EQ(r.files, (TFiles{{"ro.txt", "old"}}));
    auto replaced = test::ExtractFile(dir / "a.zip", dir / "out",
                                      [](TZipReader& z) { z.ReplaceReadOnly = true; });
    EXPECT_EQ(replaced.files, (TFiles{{"ro.txt", "new"}}));
}

}  // namespace
}  // namespace nuva
