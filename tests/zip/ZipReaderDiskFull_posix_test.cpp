// A full disk under the extractor: the output file is a link to /dev/full,
// which takes no byte.
#include <gtest/gtest.h>

#include <filesystem>

#include "ReaderTestSupport.h"
#include "ZipBuilder.h"

namespace nuva {
namespace {

TEST(ZipReaderFault, FullDiskRaisesCantWriteAndDeletesThePartialFile) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    struct {
        size_t bytes;
        const char* what;
    } cases[] = {
        {100, "only the final flush fails"},
        {200000, "a flush while writing fails"},
    };
    for (const auto& c : cases) {
        test::TTempDir dir;
        test::WriteAll(
            dir / "a.zip",
            test::BuildZip({{"first.txt", "ok"}, {"full.bin", std::string(c.bytes, 'f')}}).bytes);
        ForceDirectories(dir / "out");
        std::filesystem::create_symlink("/dev/full", (dir / "out/full.bin").c_str());
        auto r = test::ExtractFile(dir / "a.zip", dir / "out");
        EXPECT_EQ(r.error, "Cant write uncompressed file") << c.what;
        EXPECT_FALSE(std::filesystem::is_symlink((dir / "out/full.bin").c_str())) << c.what;
        EXPECT_EQ(r.files, (std::map<std::string, std::string>{{"first.txt", "ok"}})) << c.what;
    }
}

}  // namespace
}  // namespace nuva
