// The UI handlers: replaceable and restorable. The default message box is
// never shown here: under a headless Wine it would never return.
#include <gtest/gtest.h>

#include <vector>

#include "TestSupport.h"
#include "platform/Platform.h"

namespace nuva {
namespace {

using namespace nuva::test;

TEST(UiTest, MessageBoxGoesThroughTheInstalledHandler) {
    TakeMessageBoxes();
    const struct {
        AnsiString text, caption;
        unsigned flags;
    } cases[] = {
        {"Unknown compression method", "Error", mbOk | mbIconError},
        {"\xD6\xD0\xCE\xC4", "", mbIconWarning},
    };
    for (const auto& c : cases) EXPECT_EQ(ShowMessageBox(c.text, c.caption, c.flags), idOk);
    std::vector<TShownBox> shown = TakeMessageBoxes();
    ASSERT_EQ(shown.size(), 2u);
    for (size_t i = 0; i < shown.size(); ++i) {
        EXPECT_EQ(shown[i].text, cases[i].text);
        EXPECT_EQ(shown[i].caption, cases[i].caption);
        EXPECT_EQ(shown[i].flags, cases[i].flags);
    }
}

TEST(UiTest, MessageBoxHandlerIsReplacedAndRestored) {
    int calls = 0;
    TMessageBoxHandler recording =
        SetMessageBoxHandler([&](const AnsiString&, const AnsiString&, unsigned) {
            ++calls;
            return 7;
        });
    ASSERT_TRUE(recording);  // the test main's recorder
    EXPECT_EQ(ShowMessageBox("t", "c", mbOk), 7);
    EXPECT_EQ(calls, 1);

    // An empty handler brings the default back; the slot then holds nothing.
    TMessageBoxHandler ours = SetMessageBoxHandler(nullptr);
    TMessageBoxHandler empty = SetMessageBoxHandler(recording);
    EXPECT_TRUE(ours);
    EXPECT_FALSE(empty);

    TakeMessageBoxes();
    ShowMessageBox("again", "c", mbOk);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(TakeMessageBoxes().size(), 1u);
}

TEST(UiTest, PumpAndCursorHandlersAreReplacedAndRestored) {
    std::vector<std::string> log;
    TMessagePumpHandler oldPump = SetMessagePumpHandler([&] { log.push_back("pump"); });
    TBusyCursorHandler oldCursor =
        SetBusyCursorHandler([&](bool busy) { log.push_back(busy ? "busy" : "idle"); });
    {
        TBusyCursorScope scope;
        ProcessMessages();
        ProcessMessages();
    }
    SetBusyCursor(true);
    EXPECT_EQ(log, (std::vector<std::string>{"busy", "pump", "pump", "idle", "busy"}));

    EXPECT_TRUE(SetMessagePumpHandler(oldPump));
    EXPECT_TRUE(SetBusyCursorHandler(oldCursor));
    ProcessMessages();
    SetBusyCursor(false);
    EXPECT_EQ(log.size(), 5u);
}

}  // namespace
}  // namespace nuva
