// Damaged archives, in the manner of a log reader's corruption tests: one
// small archive, helpers that cut it, flip its bytes or rewrite a length, and
// for each damage what was extracted and which error was raised. Every case
// must end cleanly (the sanitizers watch), never leave a wrong file behind
// and never write outside the destination.
#include <gtest/gtest.h>

#include <set>

#include "ReaderTestSupport.h"
#include "ZipBuilder.h"

namespace nuva {
namespace {

using TFiles = std::map<std::string, std::string>;

const std::set<std::string> kAllowedErrors = {"", "Incomplete Zip File", "Not a valid zip file!",
                                              "Premature end of file reached"};

class ZipCorruptionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string alpha;
        for (int i = 0; i < 300; ++i) alpha += static_cast<char>('a' + i % 26);
        originals_ = {
            {"alpha.txt", alpha}, {"beta.bin", std::string(70, '\x07')}, {"gamma.txt", "g!"}};
        built_ = test::BuildZip(
            {{"alpha.txt", alpha}, {"beta.bin", originals_["beta.bin"]}, {"gamma.txt", "g!"}});
        zip_ = built_.bytes;
    }

    void FlipByte(size_t at) { zip_[at] = static_cast<char>(zip_[at] ^ 0xFF); }
    void Truncate(size_t n) { zip_.resize(n); }
    void Set16(size_t at, uint32_t v) { test::SetLe16(zip_, at, v); }
    void Set32(size_t at, uint32_t v) { test::SetLe32(zip_, at, v); }
    uint32_t Get32(size_t at) const {
        return GetLe32(reinterpret_cast<const uint8_t*>(zip_.data()) + at);
    }

    test::TExtractOutcome Extract(TIncompleteZipMode mode = TIncompleteZipMode::izAssumeMulti) {
        test::TTempDir dir;
        test::WriteAll(dir / "a.zip", zip_);
        auto r = test::ExtractFile(dir / "a.zip", dir / "out",
                                   [&](TZipReader& z) { z.IncompleteZipMode = mode; });
        for (const auto& entry : test::FilesIn(dir.Path()))
            EXPECT_TRUE(entry.first == "a.zip" || entry.first == "out")
                << entry.first << " landed beside";
        return r;
    }

    // Every file that came out holds the bytes of an original entry.
    void ExpectOnlyIntactFiles(const test::TExtractOutcome& r, const std::string& what) {
        EXPECT_TRUE(kAllowedErrors.count(r.error)) << what << ": " << r.error;
        for (const auto& [name, data] : r.files) {
            bool known = false;
            for (const auto& [origName, origData] : originals_) known |= data == origData;
            EXPECT_TRUE(known) << what << ": " << name << " holds bytes of no entry";
        }
    }

    TFiles Only(std::initializer_list<const char*> names) {
        TFiles f;
        for (const char* n : names) f[n] = originals_[n];
        return f;
    }

    TFiles originals_;
    test::TBuiltZip built_;
    std::string zip_;
};

TEST_F(ZipCorruptionTest, IntactArchiveExtractsEverything) {
    auto r = Extract();
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.files, originals_);
}

TEST_F(ZipCorruptionTest, TruncatedAtEveryOffset) {
    const std::string whole = zip_;
    for (size_t n = 0; n < whole.size(); ++n) {
        zip_ = whole.substr(0, n);
        auto r = Extract();
        EXPECT_EQ(r.error, n == 0 ? "" : "Incomplete Zip File") << n;
        EXPECT_EQ(r.files, TFiles{}) << n;
    }
}

// With a missing end record taken as damage, the list is rebuilt from the
// local headers: the entries before the cut come out whole, the first cut
// entry ends the extraction with a premature end.
TEST_F(ZipCorruptionTest, TruncatedAtEveryOffsetRebuilt) {
    const std::string whole = zip_;
    const char* names[] = {"alpha.txt", "beta.bin", "gamma.txt"};
    for (size_t n = 0; n < whole.size(); ++n) {
        zip_ = whole.substr(0, n);
        auto r = Extract(TIncompleteZipMode::izAssumeBad);
        ExpectOnlyIntactFiles(r, "cut at " + std::to_string(n));
        TFiles expected;
        bool cutInsideData = false;
        for (size_t i = 0; i < 3; ++i) {
            const size_t header = built_.localOffsets[i];
            const size_t dataEnd =
                header + 30 + std::string(names[i]).size() + originals_[names[i]].size();
            if (header + 30 + std::string(names[i]).size() > n) break;  // the walk stops here
            if (dataEnd > n) {
                cutInsideData = true;
                break;
            }
            expected[names[i]] = originals_[names[i]];
        }
        EXPECT_EQ(r.files, expected) << n;
        const char* error = n == 0          ? ""
                            : n < 6         ? "Not a valid zip file!"
                            : cutInsideData ? "Premature end of file reached"
                                            : "";
        EXPECT_EQ(r.error, error) << n;
    }
}

TEST_F(ZipCorruptionTest, EveryByteFlipped) {
    const std::string whole = zip_;
    for (size_t at = 0; at < whole.size(); ++at) {
        zip_ = whole;
        FlipByte(at);
        auto r = Extract();
        ExpectOnlyIntactFiles(r, "flip at " + std::to_string(at));
        // A flipped data byte fails exactly its own entry.
        const char* names[] = {"alpha.txt", "beta.bin", "gamma.txt"};
        for (size_t i = 0; i < 3; ++i) {
            const size_t dataStart = built_.localOffsets[i] + 30 + std::string(names[i]).size();
            if (at >= dataStart && at < dataStart + originals_[names[i]].size()) {
                TFiles expected = originals_;
                expected.erase(names[i]);
                EXPECT_EQ(r.files, expected) << "flip in the data of " << names[i];
                EXPECT_EQ(r.error, "");
            }
        }
    }
}

TEST_F(ZipCorruptionTest, WrongLengths) {
    const size_t cA = built_.centralOffsets[0], cB = built_.centralOffsets[1],
                 cG = built_.centralOffsets[2];
    const size_t lA = built_.localOffsets[0], lG = built_.localOffsets[2];
    const size_t end = built_.endOffset;
    struct TCase {
        const char* what;
        size_t at;
        int width;
        int64_t delta;  // added to the field; `set` replaces it when nonzero
        uint32_t set;
        std::string error;
        TFiles files;
    };
    const std::vector<TCase> cases = {
        {"alpha compressed size - 1", cA + 20, 4, -1, 0, "", Only({"beta.bin", "gamma.txt"})},
        {"alpha compressed size + 1 overlaps beta", cA + 20, 4, 1, 0, "",
         Only({"beta.bin", "gamma.txt"})},
        {"alpha uncompressed size + 1", cA + 24, 4, 1, 0, "", Only({"beta.bin", "gamma.txt"})},
        {"alpha uncompressed size - 1", cA + 24, 4, -1, 0, "", Only({"beta.bin", "gamma.txt"})},
        {"alpha local name length + 1", lA + 26, 2, 1, 0, "", Only({"beta.bin", "gamma.txt"})},
        {"alpha local extra length huge", lA + 28, 2, 0, 0xFFFF, "",
         Only({"beta.bin", "gamma.txt"})},
        {"gamma local extra length past the end", lG + 28, 2, 0, 0xFFFF,
         "Premature end of file reached", Only({"alpha.txt", "beta.bin"})},
        {"beta local header offset + 1", cB + 42, 4, 1, 0, "", Only({"alpha.txt", "gamma.txt"})},
        {"gamma local header offset past the end", cG + 42, 4, 0, 0x7FFFFFFF,
         "Premature end of file reached", Only({"alpha.txt", "beta.bin"})},
        {"entry count + 1: rebuilt", end + 10, 2, 1, 0, "", originals_},
        {"entry count - 1", end + 10, 2, -1, 0, "", Only({"alpha.txt", "beta.bin"})},
        {"directory offset + 1: rebuilt", end + 16, 4, 1, 0, "", originals_},
        {"directory size wrong: not used", end + 12, 4, 0, 0x7FFF, "", originals_},
        {"directory offset negative", end + 16, 4, 0, 0x80000000, "Incomplete Zip File", {}},
        {"alpha central name length + 1: rebuilt", cA + 28, 2, 1, 0, "", TFiles{}},
    };
    const std::string whole = zip_;
    for (const TCase& c : cases) {
        zip_ = whole;
        if (c.width == 2) {
            uint32_t v = GetLe16(reinterpret_cast<const uint8_t*>(zip_.data()) + c.at);
            Set16(c.at, c.set ? c.set : static_cast<uint32_t>(v + c.delta));
        } else {
            Set32(c.at, c.set ? c.set : static_cast<uint32_t>(Get32(c.at) + c.delta));
        }
        auto r = Extract();
        EXPECT_EQ(r.error, c.error) << c.what;
        ExpectOnlyIntactFiles(r, c.what);
        if (c.at == cA + 28) {
            // The first central header now swallows a byte of the second: the
            // list is rebuilt and alpha's header merged under its longer name.
            EXPECT_EQ(r.files.size(), 3u) << c.what;
            EXPECT_EQ(r.files.count("beta.bin"), 1u) << c.what;
            continue;
        }
        EXPECT_EQ(r.files, c.files) << c.what;
    }
}

}  // namespace
}  // namespace nuva
