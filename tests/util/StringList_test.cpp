#include <gtest/gtest.h>

#include "util/StringList.h"

namespace nuva {
namespace {

TEST(StringListTest, KeepsLinesInOrderAndCountsThem) {
    TStringList list;
    EXPECT_EQ(list.Add("b"), 0);
    EXPECT_EQ(list.Add("a"), 1);
    EXPECT_EQ(list.Add(AnsiString("x\0y", 3)), 2);
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list[0], "b");
    EXPECT_EQ(list.Strings(1), "a");
    EXPECT_EQ(list[2], AnsiString("x\0y", 3));
    EXPECT_EQ(list.Text(), AnsiString("b\r\na\r\nx\0y\r\n", 11));
    list.Delete(0);
    EXPECT_EQ(list.Text("|"), AnsiString("a|x\0y|", 6));
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Text(), "");
}

TEST(StringListTest, BadIndexRaisesListErrorWithTheIndex) {
    TStringList list;
    list.Add("one");
    list.Add("two");
    struct Case {
        int index;
        const char* message;
    } cases[] = {
        {5, "List index out of bounds (5)"},
        {2, "List index out of bounds (2)"},
        {-1, "List index out of bounds (-1)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.index);
        try {
            (void)list[c.index];
            ADD_FAILURE() << "no error";
        } catch (const EListError& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
        EXPECT_THROW(list.Delete(c.index), EListError);
    }
    EXPECT_EQ(list.Count(), 2);
    TStringList empty;
    try {
        (void)empty.Strings(0);
        ADD_FAILURE() << "no error";
    } catch (const EListError& e) {
        EXPECT_STREQ(e.what(), "List index out of bounds (0)");
    }
}

}  // namespace
}  // namespace nuva
