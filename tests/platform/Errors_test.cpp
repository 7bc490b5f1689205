#include <gtest/gtest.h>

#include "platform/Errors.h"

namespace nuva {
namespace {

TEST(ErrorsTest, MessagesAreTheSystemTexts) {
    struct Case {
        Exception error;
        const char* expected;
    } cases[] = {
        {EReadError(), "Stream read error"},
        {EWriteError(), "Stream write error"},
        {EFOpenError("C:\\a b\\x.zip", "reason."), "Cannot open file \"C:\\a b\\x.zip\". reason."},
        {EFCreateError("x", "denied"), "Cannot create file \"x\". denied"},
        {EListError(7), "List index out of bounds (7)"},
        {EListError(-1), "List index out of bounds (-1)"},
    };
    for (const Case& c : cases) EXPECT_STREQ(c.error.what(), c.expected);
}

TEST(ErrorsTest, FormatGrowsPastItsSmallBuffer) {
    std::string longText(1000, 'x');
    EXPECT_EQ(Format("<%s>", longText.c_str()), "<" + longText + ">");
}

}  // namespace
}  // namespace nuva
