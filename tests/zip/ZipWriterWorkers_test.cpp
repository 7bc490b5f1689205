// Packing with workers: the archive is byte for byte the one a single thread
// writes, for every spread of items, level and worker count, and the count of
// packed files is the same (skipped files included). Unpacking with workers
// writes and lists the same files, damaged entries included, and hands its
// sink each kept file's bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "zip/CompressUtil.h"
#include "zip/Crc32.h"
#include "zip/ExtractSink.h"
#include "zip/PackAhead.h"
#include "zip/ZipWriter.h"

namespace nuva {
namespace {

using namespace nuva::test;

// Text with some noise, so that it deflates into several blocks of each kind.
std::string Mixed(size_t size, uint32_t seed) {
    std::string s;
    s.reserve(size + 32);
    uint32_t x = seed;
    while (s.size() < size) {
        s += "\xD5\xDF\xBD\xF5 <VALUE>item &amp; text</VALUE> ";
        for (int i = 0; i < 8; ++i) {
            x = x * 1103515245u + 12345u;
            s += static_cast<char>(x >> 24);
        }
    }
    s.resize(size);
    return s;
}

struct TItem {
    std::string name;
    std::string bytes;
};

struct TSpread {
    const char* what;
    std::function<std::vector<TItem>()> items;
    std::vector<std::string> extraLines;  // lines naming no file, or twice a name
    std::vector<int> levels = {0, 1, 6, 9};
};

std::vector<TSpread> Spreads() {
    return {
        {"one item",
         [] {
             return std::vector<TItem>{{"a.xml", Mixed(200000, 1)}};
         },
         {}},
        {"many tiny items",
         [] {
             std::vector<TItem> v;
             for (int i = 0; i < 150; ++i)
                 v.push_back(
                     {"t" + std::to_string(i) + ".txt", Mixed(static_cast<size_t>(i % 40), i)});
             return v;
         },
         {}},
        {"one huge among small",
         [] {
             std::vector<TItem> v;
             for (int i = 0; i < 6; ++i) v.push_back({"s" + std::to_string(i), Mixed(3000, i)});
             // Past the size that workers take in memory: streamed by the
             // calling thread between entries made by the workers.
             v.insert(v.begin() + 3, TItem{"huge.bin", Mixed(4 * 1024 * 1024 + 1000, 99)});
             return v;
         },
         {},
         {0, 6}},
        {"empty values",
         [] {
             return std::vector<TItem>{{"e1", ""}, {"\xD5\xDF.txt", "x"}, {"e2", ""}, {"e3", ""}};
         },
         {}},
        {"missing and repeated names",
         [] {
             return std::vector<TItem>{{"A.txt", Mixed(70000, 3)}, {"b.txt", Mixed(300, 4)}};
         },
         {"missing.txt", "sub/a.TXT"}},
    };
}

struct TPackResult {
    std::string archive;
    int packed = -1;
};

// `ahead`: entries made ahead from these bytes, one per item (what the
// items' files hold, or something else).
TPackResult Pack(const TTempDir& dir, const std::vector<TItem>& items,
                 const std::vector<std::string>& extra, int level, int threads,
                 const std::vector<std::string>* ahead = nullptr) {
    TPackAhead made(threads, level);
    TZipWriter writer;
    if (ahead) {
        for (size_t i = 0; i < items.size(); ++i) {
            const size_t entry = made.Begin(dir / items[i].name);
            // In uneven pieces, as a file's pieces come.
            const std::string& bytes = (*ahead)[i];
            for (size_t at = 0, n = 1; at < bytes.size(); at += n, n = n * 7 + 1)
                made.Add(entry, bytes.substr(at, n));
            made.End(entry);
        }
        writer.Ahead = &made;
    }
    writer.SetZipName(dir / ("out" + std::to_string(threads) + ".zip"));
    writer.PackLevel = level;
    writer.Threads = threads;
    for (size_t i = 0; i < items.size(); ++i) {
        writer.FilesList.Add(dir / items[i].name);
        // The extra lines go between the items, so skips happen mid-list.
        if (i == 0)
            for (const std::string& line : extra) writer.FilesList.Add(dir / line);
    }
    TPackResult r;
    r.packed = writer.Zip();
    r.archive = ReadAll(writer.ZipName());
    DeleteFile(writer.ZipName());
    return r;
}

// The spread's files in `dir`, and a second file under the name of the
// repeated-names spread's first.
std::vector<TItem> WriteSpread(const TTempDir& dir, const TSpread& spread) {
    std::vector<TItem> items = spread.items();
    ForceDirectories(dir / "sub");
    for (const TItem& item : items) WriteAll(dir / item.name, item.bytes);
    WriteAll(dir / "sub/a.TXT", "a second file under the same stored name");
    return items;
}

TEST(ZipWriterWorkers, ArchiveIsByteIdenticalForAnyNumberOfWorkers) {
    for (const TSpread& spread : Spreads()) {
        TTempDir dir;
        const std::vector<TItem> items = WriteSpread(dir, spread);
        for (int level : spread.levels) {
            const TPackResult one = Pack(dir, items, spread.extraLines, level, 1);
            ASSERT_GT(one.archive.size(), 22u) << spread.what;
            for (int threads : {2, 8}) {
                const TPackResult many = Pack(dir, items, spread.extraLines, level, threads);
                EXPECT_EQ(many.packed, one.packed)
                    << spread.what << ", level " << level << ", " << threads << " workers";
                EXPECT_TRUE(many.archive == one.archive)
                    << spread.what << ", level " << level << ", " << threads
                    << " workers: archives differ (" << many.archive.size() << " vs "
                    << one.archive.size() << " bytes)";
            }
        }
    }
}

TEST(ZipWriterWorkers, ZipFilesWithWorkersUnpacksToTheItems) {
    TTempDir dir;
    TStringList list;
    std::vector<TItem> items;
    for (int i = 0; i < 12; ++i) items.push_back({"i" + std::to_string(i), Mixed(20000 * i, i)});
    for (const TItem& item : items) {
        WriteAll(dir / item.name, item.bytes);
        list.Add(dir / item.name);
    }
    ASSERT_TRUE(ZipFiles(list, dir / "out.zip", 4));
    ASSERT_TRUE(UnzipToDir(dir / "out.zip", dir / "back"));
    for (const TItem& item : items)
        EXPECT_TRUE(ReadAll(dir / ("back/" + item.name)) == item.bytes) << item.name;
}

struct TUnpacked {
    bool complete = false;
    std::vector<AnsiString> listed;  // names, in the order listed
    std::vector<std::pair<AnsiString, std::string>> files;
    bool sinkAgrees = false;  // the sink saw each kept file's bytes, and only those as kept
};

// What an extraction hands its sink: each file's bytes and whether it was kept.
class TRecordingSink : public TExtractSink {
  public:
    void Begin(const AnsiString& path) override {
        current_ = path;
        bytes[path].clear();
        whole.erase(path);
    }
    void Add(const uint8_t* data, size_t count) override {
        bytes[current_].append(reinterpret_cast<const char*>(data), count);
    }
    void End(bool kept) noexcept override { whole[current_] = kept; }
    std::map<AnsiString, std::string> bytes;
    std::map<AnsiString, bool> whole;

  private:
    AnsiString current_;
};

TUnpacked Unpack(const TTempDir& dir, const AnsiString& zip, int threads) {
    const AnsiString out = dir / ("out" + std::to_string(threads));
    TUnpacked r;
    std::vector<AnsiString> written;
    TRecordingSink sink;
    r.complete = UnzipToDirListing(zip, out, written, threads, &sink);
    size_t kept = 0;
    for (const auto& [path, whole] : sink.whole) kept += whole ? 1 : 0;
    r.sinkAgrees = kept == written.size();
    for (const AnsiString& path : written)
        r.sinkAgrees = r.sinkAgrees && sink.whole[path] && sink.bytes[path] == ReadAll(path);
    for (const AnsiString& path : written) r.listed.push_back(ExtractFileName(path));
    for (const TDirEntry& e : ListDirectoryEntries(out))
        if (!(e.attributes & faDirectory))
            r.files.push_back({e.name, ReadAll(IncludeTrailingPathDelimiter(out) + e.name)});
    std::sort(r.files.begin(), r.files.end());
    RemoveTree(out);
    return r;
}

TEST(ZipWriterWorkers, UnpackWritesAndListsTheSameForAnyNumberOfWorkers) {
    for (const TSpread& spread : Spreads()) {
        for (bool damaged : {false, true}) {
            TTempDir dir;
            const std::vector<TItem> items = spread.items();
            for (const TItem& item : items) WriteAll(dir / item.name, item.bytes);
            const TPackResult packed = Pack(dir, items, {}, 6, 1);
            std::string archive = packed.archive;
            if (damaged) {
                // A byte in the middle of the archive: an entry's data (its
                // CRC or its deflate stream fails) or a header.
                archive[archive.size() / 3] ^= 0x55;
            }
            WriteAll(dir / "in.zip", archive);
            const TUnpacked one = Unpack(dir, dir / "in.zip", 1);
            EXPECT_TRUE(one.sinkAgrees) << spread.what << (damaged ? ", damaged" : "");
            if (!damaged) {
                EXPECT_TRUE(one.complete) << spread.what;
                EXPECT_EQ(one.files.size(), items.size()) << spread.what;
            }
            for (int threads : {2, 8}) {
                const TUnpacked many = Unpack(dir, dir / "in.zip", threads);
                const std::string what = std::string(spread.what) + (damaged ? ", damaged" : "") +
                                         ", " + std::to_string(threads) + " workers";
                EXPECT_EQ(many.complete, one.complete) << what;
                EXPECT_EQ(many.listed, one.listed) << what;
                EXPECT_TRUE(many.files == one.files) << what << ": files differ";
                EXPECT_TRUE(many.sinkAgrees) << what;
            }
        }
    }
}

TEST(ZipWriterWorkers, ThreadCountIsBounded) {
    const struct {
        int requested;
        int expected;
    } cases[] = {{1, 1},
                 {2, 2},
                 {8, 8},
                 {9, kMaxZipThreads},
                 {1000, kMaxZipThreads},
                 {0, DefaultZipThreads()},
                 {-3, DefaultZipThreads()}};
    for (const auto& c : cases) EXPECT_EQ(ZipThreads(c.requested), c.expected) << c.requested;
    EXPECT_GE(DefaultZipThreads(), 1);
    EXPECT_LE(DefaultZipThreads(), kMaxZipThreads);
}

}  // namespace
}  // namespace nuva

namespace nuva {
namespace {

// Entries made ahead from the files' own bytes give the archive the files
// give; made from other bytes (one changed, one missing) they are not used,
// and the archive is still the files'. The level decides nothing here
// beyond stored or deflated.
TEST(ZipWriterWorkers, EntriesMadeAheadGiveTheArchiveOfTheFiles) {
    const struct {
        const char* what;
        std::function<void(std::string&)> change;
    } kinds[] = {
        {"the files' bytes", [](std::string&) {}},
        {"a byte changed",
         [](std::string& b) {
             if (!b.empty()) b[b.size() / 2] ^= 1;
         }},
        {"a byte short",
         [](std::string& b) {
             if (!b.empty()) b.pop_back();
         }},
    };
    for (const TSpread& spread : Spreads()) {
        TTempDir dir;
        const std::vector<TItem> items = WriteSpread(dir, spread);
        for (int level : {0, 6}) {
            const TPackResult files = Pack(dir, items, spread.extraLines, level, 1);
            for (const auto& kind : kinds) {
                std::vector<std::string> ahead;
                for (const TItem& item : items) {
                    ahead.push_back(item.bytes);
                    kind.change(ahead.back());
                }
                for (int threads : {1, 3}) {
                    const TPackResult r =
                        Pack(dir, items, spread.extraLines, level, threads, &ahead);
                    EXPECT_EQ(r.packed, files.packed) << spread.what << ", " << kind.what;
                    EXPECT_TRUE(r.archive == files.archive)
                        << spread.what << ", " << kind.what << ", level " << level << ", "
                        << threads << " workers: archives differ";
                }
            }
        }
    }
}

// Entries made ahead, taken by path: the last entry begun for a path is the
// one its file holds; an entry left without its end (its file's write
// failed) stops when the owner goes; another level or an unknown path has
// none to give.
TEST(PackAhead, TakesTheLastEntryOfAPathAndStopsAnAbandonedOne) {
    const std::string first = Mixed(100000, 1), second = Mixed(90000, 2);
    for (int threads : {1, 3}) {
        TPackAhead ahead(threads, 6);
        const size_t a = ahead.Begin("f");
        ahead.Add(a, first);
        ahead.End(a);
        const size_t b = ahead.Begin("f");
        ahead.Add(b, second.substr(0, 1000));
        ahead.Add(b, second.substr(1000));
        ahead.End(b);
        TPackedEntry entry;
        EXPECT_FALSE(ahead.Take("g", entry)) << threads;
        ASSERT_TRUE(ahead.Take("f", entry)) << threads;
        EXPECT_EQ(entry.sourceBytes, int64_t(second.size())) << threads;
        EXPECT_EQ(entry.crc, Crc32(second.data(), second.size())) << threads;
        EXPECT_FALSE(ahead.Take("f", entry)) << threads << ": taken twice";
        // Begun and never ended: the destructor must not wait for more.
        TPackAhead abandoned(threads, 6);
        abandoned.Add(abandoned.Begin("h"), first);
    }
}

}  // namespace
}  // namespace nuva
