// The fault seam: each kind of file-system operation fails when its turn
// comes, with the system's reason, and a failed read or write is never taken
// for the end of the data.
#include <gtest/gtest.h>

#include <functional>

#include "../FaultSweep.h"
#include "TestSupport.h"
#include "platform/Platform.h"
#include "platform/Stream.h"

namespace nuva {
namespace {

using namespace nuva::test;

bool StartsWith(const AnsiString& s, const AnsiString& prefix) {
    return s.size() > prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

// The operation under the fault raises an error whose message starts with
// `prefix` and goes on with the system's reason.
void ExpectRaises(const std::function<void()>& op, const AnsiString& prefix, const char* what) {
    try {
        op();
        ADD_FAILURE() << what << ": no error";
    } catch (const EStreamError& e) {
        EXPECT_TRUE(StartsWith(e.Message(), prefix)) << what << ": " << e.Message();
    }
}

TEST(FaultInjection, EachOperationFailsInItsTurnWithTheSystemsReason) {
    if (!FaultInjectionBuilt()) GTEST_SKIP() << kNoFaultInjection;
    TTempDir dir;
    const AnsiString file = dir / "a.txt", other = dir / "b.txt";
    for (TFaultError error : {TFaultError::IoError, TFaultError::DiskFull}) {
        SCOPED_TRACE(FaultErrorName(error));
        WriteAll(file, "0123456789");
        {
            TFaultScope fault(1, error);
            ExpectRaises([&] { TFileStream s(file, fmOpenRead); }, "Cannot open file \"", "open");
        }
        {
            TFileStream s(file, fmOpenRead);
            char buffer[16];
            TFaultScope fault(1, error);
            // Before the fix, the read returned 0: the end of the file.
            ExpectRaises([&] { s.Read(buffer, sizeof buffer); }, "Stream read error. ", "read");
            EXPECT_EQ(fault.FailedOp(), AnsiString("read"));
        }
        {
            TFileStream s(file, fmCreate);
            TFaultScope fault(1, error);
            ExpectRaises([&] { s.Write("xy", 2); }, "Stream write error. ", "write");
        }
        WriteAll(file, "0123456789");
        struct {
            const char* name;
            std::function<bool()> op;
        } const kRefused[] = {
            {"rename", [&] { return MoveFileReplace(file, other); }},
            {"delete", [&] { return DeleteFile(file); }},
            {"mkdir", [&] { return ForceDirectories(dir / "sub"); }},
            {"attributes", [&] { return SetFileAttributes(file, faReadOnly); }},
            {"open", [&] { return !CreateUniqueTempFile(dir.Path(), "TMZ").empty(); }},
        };
        for (const auto& c : kRefused) {
            TFaultScope fault(1, error);
            EXPECT_FALSE(c.op()) << c.name;
            EXPECT_EQ(fault.FailedOp(), AnsiString(c.name));
            EXPECT_NE(LastErrorText(), "") << c.name;
        }
        // Nothing changed on disk, and the next operation runs.
        EXPECT_EQ(ReadAll(file), "0123456789");
        EXPECT_FALSE(FileExists(other));
        EXPECT_FALSE(DirectoryExists(dir / "sub"));
        EXPECT_TRUE(DeleteFile(file));
    }
}

TEST(FaultInjection, OnlyTheChosenOperationFails) {
    TTempDir dir;
    if (!FaultInjectionBuilt()) GTEST_SKIP() << kNoFaultInjection;
    TFaultScope fault(3, TFaultError::IoError);
    TFileStream s(dir / "a.txt", fmCreate);  // 1
    EXPECT_EQ(s.Write("abc", 3), 3);          // 2
    EXPECT_THROW(s.Write("def", 3), EWriteError);  // 3
    EXPECT_EQ(s.Write("ghi", 3), 3);          // 4
    EXPECT_EQ(fault.Seen(), 4);
}

}  // namespace
}  // namespace nuva
