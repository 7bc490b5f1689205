// The file system's limits under the extractor: a full disk (the output
// file is a link to /dev/full, which takes no byte) and a file-size limit
// (RLIMIT_FSIZE, as `ulimit -f` sets it).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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

// An entry that inflates past its declared size is stopped at that size,
// not written out whole and judged afterwards: a limit on extraction (the
// server's among them) holds only then. 8 MiB that declare 10 bytes, taken
// out by a child process under a file-size limit of 1 MiB: a write past the
// limit would kill it (SIGXFSZ).
TEST(ZipReaderFault, EntryInflatingPastItsSizeStopsThereUnderAFileSizeLimit) {
    test::TTempDir dir;
    test::TTestEntry bomb{"bomb.bin", std::string(size_t(8) << 20, 'z')};
    bomb.method = 8;
    bomb.uncompressedSize = 10;
    const std::string archive = test::BuildZip({{"first.txt", "ok"}, bomb}).bytes;
    ASSERT_LT(archive.size(), size_t(64) << 10);
    test::WriteAll(dir / "a.zip", archive);

    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        signal(SIGXFSZ, SIG_DFL);
        const struct rlimit limit = {rlim_t(1) << 20, rlim_t(1) << 20};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(3);
        auto r = test::ExtractFile(dir / "a.zip", dir / "out");
        const bool expected =
            r.error.empty() && r.files == std::map<std::string, std::string>{{"first.txt", "ok"}};
        _exit(expected ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_FALSE(WIFSIGNALED(status))
        << "killed by signal " << WTERMSIG(status) << " (SIGXFSZ is " << SIGXFSZ << ")";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "exit " << WEXITSTATUS(status) << " (1: not skipped cleanly, 3: no limit)";
}

}  // namespace
}  // namespace nuva
