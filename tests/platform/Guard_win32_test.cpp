// GuardedCall on Windows: structured exceptions raised inside end the call
// and nothing else; the thread's exception-frame chain is left as it was.
#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/Guard.h"
#include "platform/win32/WinHeaders.h"

namespace nuva {
namespace {

constexpr DWORD kForeignCode = 0x0EEDFADE;  // what another compiler's runtime raises

// Volatile, so that the compiler keeps the write through null.
int* volatile g_null = nullptr;

TEST(GuardedCall, AStructuredExceptionEndsTheCallWithItsCode) {
    struct {
        const char* what;
        void (*raise)();
        DWORD code;
    } cases[] = {
        {"RaiseException", [] { RaiseException(kForeignCode, 0, 0, nullptr); }, kForeignCode},
        {"noncontinuable",
         [] { RaiseException(kForeignCode, EXCEPTION_NONCONTINUABLE, 0, nullptr); }, kForeignCode},
        {"null-pointer write", [] { *g_null = 1; }, EXCEPTION_ACCESS_VIOLATION},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        bool after = false;
        TStructuredException raised;
        EXPECT_FALSE(GuardedCall(
            [&] {
                c.raise();
                after = true;
            },
            &raised));
        EXPECT_FALSE(after);
        EXPECT_EQ(raised.code, c.code);
        EXPECT_NE(raised.address, nullptr);
    }
}

TEST(GuardedCall, NestedGuardsEachTakeTheirOwn) {
    // The inner guard takes the first raise; after it the outer one is the
    // head of the chain again and takes the second.
    TStructuredException inner, outer;
    bool innerReturned = true;
    EXPECT_FALSE(GuardedCall(
        [&] {
            innerReturned =
                GuardedCall([] { RaiseException(kForeignCode, 0, 0, nullptr); }, &inner);
            RaiseException(kForeignCode + 1, 0, 0, nullptr);
        },
        &outer));
    EXPECT_FALSE(innerReturned);
    EXPECT_EQ(inner.code, kForeignCode);
    EXPECT_EQ(outer.code, kForeignCode + 1);
}

TEST(GuardedCall, ManyRaisesLeaveTheChainAsItWas) {
    // A registration left behind by a raise would point into a dead stack
    // frame: a later raise would crash instead of ending its call.
    for (int i = 0; i < 2000; ++i) {
        TStructuredException raised;
        ASSERT_FALSE(GuardedCall([&] { RaiseException(kForeignCode, 0, 0, nullptr); }, &raised));
        ASSERT_EQ(raised.code, kForeignCode);
    }
    TStructuredException raised;
    EXPECT_FALSE(GuardedCall([] { *g_null = 2; }, &raised));
    EXPECT_EQ(raised.code, static_cast<uint32_t>(EXCEPTION_ACCESS_VIOLATION));
}

#if defined(__x86_64__)
// On x86-64 this compiler's C++ exceptions are structured exceptions too
// (code 0x20474343): the guard's frame must let them go by to the C++
// handler above it, not take them for a raise.
TEST(GuardedCall, OnX64ACppExceptionThrownStraightThroughTheFrameIsNotTakenForARaise) {
    TStructuredException raised;
    bool returned = true;
    try {
        returned = GuardedCall([](void*) { throw std::runtime_error("through the frame"); },
                               nullptr, &raised);
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "through the frame");
    }
    EXPECT_TRUE(returned);
    EXPECT_EQ(raised.code, 0u);
    EXPECT_TRUE(GuardedCall([] {}, &raised));
}
#endif

}  // namespace
}  // namespace nuva
