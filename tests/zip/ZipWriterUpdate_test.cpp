// The writer's update of an existing archive, and its failures: a full
// disk (a file that refuses bytes past a limit), an old archive that is no
// zip file, a rewritten archive that cannot be put in place.
#include <gtest/gtest.h>

#include "WriterTestSupport.h"
#include "zip/ZipErrors.h"
#include "zip/ZipWriter.h"

namespace nuva {
namespace {

using test::ParseArchive;
using test::TParsedArchive;
using test::TTempDir;
using test::WriteSource;

constexpr uint32_t kOldEntryTime = 0x5A8C6000;        // 2025-04-12 12:00:00
constexpr uint32_t kBeforeOld = test::kFixedDosTime;  // 2024-06-01
constexpr uint32_t kAfterOld = (46u << 25 | 1u << 21 | 2u << 16) | (8u << 11);  // 2026-01-02

// A file that takes bytes only up to `limit` (a full disk).
class TLimitedFile : public TFileStream {
  public:
    TLimitedFile(const AnsiString& path, int64_t limit)
        : TFileStream(path, fmCreate), limit_(limit) {}
    int64_t Write(const void* buffer, int64_t count) override {
        const int64_t room = std::max<int64_t>(0, limit_ - Position());
        const int64_t n = std::min(count, room);
        return n > 0 ? TFileStream::Write(buffer, n) : 0;
    }

  private:
    int64_t limit_;
};

// A writer with failure seams: a byte limit on the archive file, and a
// rename and copy that can be made to fail.
class TFaultyWriter : public TZipWriter {
  public:
    int64_t limit = -1;  // -1: no limit
    bool renameFails = false;
    bool copyFails = false;

  protected:
    std::unique_ptr<TFileStream> CreateArchiveFile(const AnsiString& path) override {
        if (limit < 0) return TZipWriter::CreateArchiveFile(path);
        return std::make_unique<TLimitedFile>(path, limit);
    }
    bool RenameArchive(const AnsiString& from, const AnsiString& to) override {
        return !renameFails && TZipWriter::RenameArchive(from, to);
    }
    bool CopyArchive(const AnsiString& from, const AnsiString& to) override {
        return !copyFails && TZipWriter::CopyArchive(from, to);
    }
};

// The old archive: an entry with extra fields and a comment, one that is
// older and one that is newer than its listed file, one in a subdirectory.
test::TBuiltZip OldArchive() {
    test::TTestEntry keep{"keep.txt", "kept content, deflated by the other tool"};
    keep.method = 8;
    keep.localExtra = std::string("\xFE\xCA\x04\x00loc1", 8);
    keep.centralExtra = std::string(
        "\xFE\xCA\x03\x00"
        "cen",
        7);
    keep.comment = "a comment";
    keep.dosDateTime = kOldEntryTime;
    test::TTestEntry older{"older.txt", "archive copy is newer"};
    older.dosDateTime = kOldEntryTime;
    test::TTestEntry newer{"newer.txt", "archive copy is older"};
    newer.dosDateTime = kOldEntryTime;
    test::TTestEntry sub{"sub/in.txt", "in a subdirectory"};
    sub.dosDateTime = kOldEntryTime;
    return test::BuildZip({keep, older, newer, sub});
}

// Scratch files for an update: the old archive and three listed files.
struct TUpdateScene {
    TTempDir dir;
    test::TBuiltZip old = OldArchive();
    AnsiString zip = dir / "work.zip";
    std::vector<AnsiString> files;
    TUpdateScene() {
        ForceDirectories(dir / "src");
        ForceDirectories(dir / "tmp");
        test::WriteAll(zip, old.bytes);
        WriteSource(dir / "src/older.txt", "listed file, older than the entry", kBeforeOld);
        WriteSource(dir / "src/newer.txt", "listed file, newer than the entry", kAfterOld);
        WriteSource(dir / "src/added.txt", "not in the archive yet", kBeforeOld);
        files = {dir / "src/added.txt", dir / "src/newer.txt", dir / "src/older.txt"};
    }
    void Configure(TZipWriter& w) const {
        w.SetZipName(zip);
        w.TempPath = dir / "tmp";
        for (const AnsiString& f : files) w.FilesList.Add(f);
    }
    size_t TempFiles() const { return test::FilesIn(dir / "tmp").size(); }
};

TEST(ZipWriterUpdate, KeepsReplacesOnlyWhenNewerAndCarriesOverExtraFieldsAndComments) {
    TUpdateScene s;
    TZipWriter writer;
    s.Configure(writer);
    EXPECT_EQ(writer.Zip(), 2);  // newer.txt anew, added.txt
    EXPECT_EQ(writer.FilesList.Count(), 0);
    EXPECT_EQ(s.TempFiles(), 0u);

    const std::string bytes = test::ReadAll(s.zip);
    TParsedArchive a = ParseArchive(bytes);
    ASSERT_TRUE(a.ok) << a.error;
    std::vector<std::string> names;
    for (const auto& e : a.entries) {
        names.push_back(e.name);
        EXPECT_TRUE(e.localMismatches.empty()) << e.name;
    }
    EXPECT_EQ(names, (std::vector<std::string>{"keep.txt", "older.txt", "newer.txt", "sub/in.txt",
                                               "added.txt"}));
    // Carried over byte for byte, with both extra fields and the comment.
    const TParsedArchive old = ParseArchive(s.old.bytes);
    for (size_t i : {0u, 1u, 3u}) {
        EXPECT_EQ(a.entries[i].data, old.entries[i].data) << names[i];
        EXPECT_EQ(a.entries[i].dosDateTime, kOldEntryTime) << names[i];
        EXPECT_EQ(a.entries[i].centralExtra, old.entries[i].centralExtra) << names[i];
        EXPECT_EQ(a.entries[i].localExtra, old.entries[i].localExtra) << names[i];
        EXPECT_EQ(a.entries[i].comment, old.entries[i].comment) << names[i];
    }
    EXPECT_EQ(a.entries[0].comment, "a comment");
    EXPECT_EQ(a.entries[2].dosDateTime, kAfterOld);
    EXPECT_EQ(a.entries[2].comment, "");

    TTempDir out;
    test::TExtractOutcome r = test::ExtractFile(s.zip, out / "x");
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.files, (std::map<std::string, std::string>{
                           {"keep.txt", "kept content, deflated by the other tool"},
                           {"older.txt", "archive copy is newer"},
                           {"newer.txt", "listed file, newer than the entry"},
                           {"in.txt", "in a subdirectory"},
                           {"added.txt", "not in the archive yet"}}));
    test::ExpectOutsideReadersAccept(s.zip);
}

TEST(ZipWriterUpdate, AnOldFileThatIsNoArchiveStaysAsItWas) {
    TTempDir dir;
    ForceDirectories(dir / "tmp");
    const std::string text = "this is a text file and no archive, long enough to be searched";
    test::WriteAll(dir / "work.zip", text);
    WriteSource(dir / "a.txt", "a");
    TZipWriter writer;
    writer.SetZipName(dir / "work.zip");
    writer.TempPath = dir / "tmp";
    writer.FilesList.Add(dir / "a.txt");
    try {
        writer.Zip();
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Incomplete Zip File");
    }
    EXPECT_EQ(test::ReadAll(dir / "work.zip"), text);
    EXPECT_TRUE(test::FilesIn(dir / "tmp").empty());
    EXPECT_EQ(writer.FilesList.Count(), 0);
}

TEST(ZipWriterUpdate, ArchiveThatCannotBePutInPlaceKeepsBothFiles) {
    struct {
        bool renameFails, copyFails;
        bool replaced;
    } cases[] = {{false, false, true}, {true, false, true}, {true, true, false}};
    for (const auto& c : cases) {
        TUpdateScene s;
        TFaultyWriter writer;
        writer.renameFails = c.renameFails;
        writer.copyFails = c.copyFails;
        s.Configure(writer);
        test::TakeMessageBoxes();
        std::string error;
        try {
            writer.Zip();
        } catch (const Exception& e) {
            error = e.what();
        }
        auto boxes = test::TakeMessageBoxes();
        auto temps = test::FilesIn(s.dir / "tmp");
        if (c.replaced) {
            EXPECT_EQ(error, "");
            EXPECT_TRUE(boxes.empty());
            EXPECT_TRUE(temps.empty());
            EXPECT_EQ(ParseArchive(test::ReadAll(s.zip)).entries.size(), 5u);
            continue;
        }
        EXPECT_EQ(test::ReadAll(s.zip), s.old.bytes);
        ASSERT_EQ(temps.size(), 1u);
        const std::string tempName = temps.begin()->first;
        EXPECT_EQ(tempName.substr(0, 3), "TMZ");
        const AnsiString temp = s.dir / ("tmp/" + tempName);
        EXPECT_EQ(error, "Could not copy from " + temp + " -> " + s.zip);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, error);
        EXPECT_EQ(boxes[0].caption, "Error");
        EXPECT_EQ(ParseArchive(temps.begin()->second).entries.size(), 5u);
    }
}

// Byte limits that stop an archive at telling points, taken from the
// archive as it is written when nothing fails.
std::vector<std::pair<std::string, int64_t>> LimitsFor(const std::string& archive) {
    const TParsedArchive a = ParseArchive(archive);
    EXPECT_TRUE(a.ok && a.entries.size() >= 2) << a.error;
    if (a.entries.size() < 2) return {};
    const auto& last = a.entries.back();
    return {
        {"nothing fits", 0},
        {"inside the first local header", 10},
        {"inside the last entry's data", last.localOffset + 30 + last.compressedSize / 2},
        {"only the final flush", a.centralOffset},
        {"the last byte", static_cast<int64_t>(archive.size()) - 1},
    };
}

TEST(ZipWriterFault, AFullDiskRaisesNotEnoughRoomAndLeavesNoArchive) {
    const std::string big = test::MakeInput(300000, 9, false);  // streams out, not gathered
    auto run = [](TFaultyWriter& w) {
        try {
            w.Zip();
        } catch (const Exception& e) {
            return std::string(e.what());
        }
        return std::string();
    };

    // A new archive: nothing named ZipName remains.
    TTempDir dir;
    WriteSource(dir / "a.txt", test::MakeInput(3000, 1, true));
    WriteSource(dir / "b.bin", big);
    auto fill = [&](TFaultyWriter& w, const AnsiString& zip) {
        w.SetZipName(zip);
        w.FilesList.Add(dir / "a.txt");
        w.FilesList.Add(dir / "b.bin");
    };
    TFaultyWriter reference;
    fill(reference, dir / "ref.zip");
    ASSERT_EQ(run(reference), "");
    for (const auto& [what, limit] : LimitsFor(test::ReadAll(dir / "ref.zip"))) {
        TFaultyWriter writer;
        writer.limit = limit;
        fill(writer, dir / "new.zip");
        EXPECT_EQ(run(writer), "Not enough room to write archive") << what;
        EXPECT_FALSE(FileExists(dir / "new.zip")) << what;
    }

    // An update: the old archive stays, the temporary file goes.
    std::string updated;
    {
        TUpdateScene s;
        WriteSource(s.dir / "src/b.bin", big);
        TFaultyWriter w;
        s.Configure(w);
        w.FilesList.Add(s.dir / "src/b.bin");
        ASSERT_EQ(run(w), "");
        updated = test::ReadAll(s.zip);
    }
    for (const auto& [what, limit] : LimitsFor(updated)) {
        TUpdateScene s;
        WriteSource(s.dir / "src/b.bin", big);
        TFaultyWriter w;
        w.limit = limit;
        s.Configure(w);
        w.FilesList.Add(s.dir / "src/b.bin");
        EXPECT_EQ(run(w), "Not enough room to write archive") << what;
        EXPECT_TRUE(test::ReadAll(s.zip) == s.old.bytes) << what;
        EXPECT_EQ(s.TempFiles(), 0u) << what;
    }
}

}  // namespace
}  // namespace nuva
