// NuvaCA's EncryptFile and DecryptFile with every file-system operation
// failing in turn: each call succeeds with the right file, or fails with
// ok false and leaves no target and no temporary file.
#include <gtest/gtest.h>

#include <algorithm>

#include "../FaultSweep.h"
#include "invokers/CAInvoker.h"
#include "invokers/InvokerTestSupport.h"

namespace nuva {
namespace {

using test::ReadAll;
using test::TTempDir;
using test::WriteAll;

[[maybe_unused]] ::testing::Environment* const kCom =
    ::testing::AddGlobalTestEnvironment(new test::TComEnvironment);

std::vector<AnsiString> Names(const AnsiString& dir) {
    std::vector<AnsiString> names;
    for (const TDirEntry& e : ListDirectoryEntries(dir))
        if (e.name != "." && e.name != "..") names.push_back(e.name);
    std::sort(names.begin(), names.end());
    return names;
}

bool Call(TCAInvoker& ca, bool encrypt, const AnsiString& source, const AnsiString& target,
          AnsiString& message) {
    TBstr src = TBstr::FromAnsi(source), dst = TBstr::FromAnsi(target), msg;
    VARIANT_BOOL ok = VARIANT_FALSE;
    const HRESULT hr = encrypt ? ca.EncryptFile(src.Get(), *dst.InOut(), *msg.InOut(), ok)
                               : ca.DecryptFile(src.Get(), *dst.InOut(), *msg.InOut(), ok);
    message = msg.ToAnsi();
    return hr == S_OK && ok != VARIANT_FALSE;
}

TEST(NuvaCAFaultSweep, EncryptAndDecryptFinishOrLeaveNothing) {
    if (!test::FaultInjectionBuilt()) GTEST_SKIP() << test::kNoFaultInjection;
    for (TFaultError error : {TFaultError::IoError, TFaultError::DiskFull}) {
        TTempDir dir;
        const char kHexKey[] = "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f";
        WriteAll(dir / "k.key", kHexKey);
        // Three chunks of the default size, the last one short.
        std::string plain;
        while (plain.size() < 150000) plain += "\xBD\xBB\xD2\xD7 data " + std::to_string(plain.size());
        const AnsiString source = dir / "\xBD\xBB\xD2\xD7.zip", sealed = dir / "ABC.CA",
                         back = dir / "back.zip";
        WriteAll(source, plain);
        TCAInvoker ca("NuvaCA.dll", "CAImpl");
        ASSERT_TRUE(ca.Ready());
        TBstr config = test::ComponentConfig("CA", {{"KEY_FILE", dir / "k.key"}}), msg;
        VARIANT_BOOL initOk = VARIANT_FALSE;
        ASSERT_EQ(ca.Init(config.Get(), *msg.InOut(), initOk), S_OK);
        ASSERT_NE(initOk, VARIANT_FALSE) << msg.ToAnsi();
        const std::vector<AnsiString> before = Names(dir.Path());

        for (const bool encrypt : {true, false}) {
            AnsiString message;
            if (!encrypt) {
                ASSERT_TRUE(Call(ca, true, source, sealed, message)) << message;
            }
            const AnsiString target = encrypt ? sealed : back;
            std::vector<AnsiString> expectedNames = before;
            if (!encrypt) expectedNames.push_back("ABC.CA");
            std::sort(expectedNames.begin(), expectedNames.end());
            bool ok = false;
            const int64_t swept = test::SweepFaults(
                encrypt ? "NuvaCA EncryptFile" : "NuvaCA DecryptFile", error,
                [&] { ok = Call(ca, encrypt, encrypt ? source : sealed, target, message); },
                [&](const test::TFaultRun& run) {
                    const std::string where = "fault at operation " + std::to_string(run.failAt) +
                                              " (" + run.failedOp + ")";
                    if (ok) {
                        AnsiString m;
                        if (encrypt) {
                            EXPECT_TRUE(Call(ca, false, sealed, back, m)) << where << " " << m;
                            EXPECT_TRUE(ReadAll(back) == plain) << where;
                            DeleteFile(back);
                        } else {
                            EXPECT_TRUE(ReadAll(back) == plain) << where;
                        }
                    } else {
                        EXPECT_NE(message, "") << where;
                        if (std::string(run.failedOp) != "delete") {
                            EXPECT_EQ(Names(dir.Path()), expectedNames) << where << " " << message;
                        }
                    }
                    DeleteFile(target);
                });
            EXPECT_GT(swept, 0);
        }
    }
}

}  // namespace
}  // namespace nuva
