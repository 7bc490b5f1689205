// GuardedCall on both builds: a call that returns, and C++ exceptions, which
// keep their meaning through the guard.
#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/Errors.h"
#include "platform/Guard.h"

namespace nuva {
namespace {

TEST(GuardedCall, ReturnsTrueWhenTheCallReturns) {
    int calls = 0;
    TStructuredException raised;
    EXPECT_TRUE(GuardedCall([&] { ++calls; }, &raised));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(raised.code, 0u);
}

TEST(GuardedCall, CppExceptionsPassThroughWithTheirType) {
    TStructuredException raised;
    try {
        GuardedCall([] { throw Exception("thrown inside"); }, &raised);
        ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "thrown inside");
    }
    EXPECT_THROW(GuardedCall([] { throw std::out_of_range("x"); }, &raised), std::out_of_range);
    // The guard is usable again afterwards.
    EXPECT_TRUE(GuardedCall([] {}, &raised));
}

}  // namespace
}  // namespace nuva
