// What only the POSIX COM runtime has: its count of live strings, and the
// Windows search rules of LoadLibraryA over shared objects.
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>

#include "TestSupport.h"
#include "platform/Com.h"
#include "platform/Platform.h"

namespace nuva {
namespace {

using namespace nuva::test;

// Each step leaves the number of live BSTRs changed by `delta`; a string
// freed twice or never shows as a wrong count.
TEST(ComRuntimeTest, EveryStringIsFreedExactlyOnce) {
    TBstr kept;
    const struct {
        const char* name;
        std::function<void()> step;
        int delta;
    } steps[] = {
        {"allocate", [&] { kept = TBstr(u"kept"); }, 1},
        {"reallocate replaces", [&] { SysReAllocString(kept.InOut(), OleText(u"new")); }, 0},
        {"reallocate to null frees", [&] { SysReAllocString(kept.InOut(), nullptr); }, -1},
        {"clear by value frees",
         [] {
             VARIANT v;
             v.vt = VT_BSTR;
             v.bstrVal = SysAllocString(OleText(u"x"));
             VariantClear(&v);
         },
         0},
        {"clear by reference keeps",
         [&] {
             kept = TBstr(u"by reference");
             VARIANT v;
             v.vt = VT_BYREF | VT_BSTR;
             v.pbstrVal = kept.InOut();
             VariantClear(&v);
         },
         1},
        {"error description is the caller's",
         [] {
             SetThreadErrorInfo(IID_IDispatch, u"source", u"description");
             WideString text;
             TakeThreadErrorDescription(&text);
         },
         0},
        {"owner frees", [&] { kept.Reset(); }, -1},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.name);
        const ULONG before = NuvaComLiveBstrCount();
        s.step();
        EXPECT_EQ(static_cast<int>(NuvaComLiveBstrCount() - before), s.delta);
    }
}

// A copy of the probe module in a scratch current directory, which the test
// leaves again.
class ComLoadLibraryTest : public ::testing::Test {
  protected:
    TTempDir cwd_;
    AnsiString previous_;
    const AnsiString kGbkName = WideToAnsi(u"探针");  // 探针, "probe"

    void SetUp() override {
        const std::string probe = ReadAll(ExeDirectory() + "NuvaProbe.dll");
        WriteAll(cwd_ / "NuvaProbe.dll", probe);
        WriteAll(cwd_ / (kGbkName + ".dll"), probe);
        WriteAll(cwd_ / "Plain", probe);
        char buffer[4096];
        ASSERT_NE(getcwd(buffer, sizeof buffer), nullptr);
        previous_ = buffer;
        ASSERT_EQ(chdir(AnsiToUtf8(cwd_.Path()).c_str()), 0);
    }
    void TearDown() override { EXPECT_EQ(chdir(previous_.c_str()), 0); }
};

TEST_F(ComLoadLibraryTest, BareNamesSearchTheProgramThenTheCurrentDirectory) {
    const struct {
        AnsiString name;
        AnsiString foundAt;  // empty: not loaded
    } cases[] = {
        {"NuvaProbe", ExeDirectory() + "NuvaProbe.dll"},  // ".dll" added, program first
        {"NuvaProbe.dll", ExeDirectory() + "NuvaProbe.dll"},
        {kGbkName, cwd_ / (kGbkName + ".dll")},                    // then the current directory
        {cwd_ / (kGbkName + ".dll"), cwd_ / (kGbkName + ".dll")},  // a path as given
        {"Plain.", cwd_ / "Plain"},                                // a trailing dot: no extension
        {"Plain", ""},                                             // "Plain.dll" is nowhere
        {"NuvaProbe.so", ""},  // an extension of its own: nothing added
        {"./Missing.dll", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(AnsiToUtf8(c.name));
        TModule module(c.name);
        ASSERT_EQ(static_cast<bool>(module), !c.foundAt.empty());
        if (!module) continue;
        auto answer = module.Proc<int (*)()>("NuvaProbeAnswer");
        ASSERT_NE(answer, nullptr);
        EXPECT_EQ(answer(), 42);
        EXPECT_EQ(ModuleFileNameOf(reinterpret_cast<const void*>(answer)), c.foundAt);
        EXPECT_EQ(module.Proc<int (*)()>("NoSuchExport"), nullptr);
    }
}

}  // namespace
}  // namespace nuva
