// What only the POSIX runtime can show: how many strings are alive.
#include <gtest/gtest.h>

#include "InvokerTestSupport.h"
#include "invokers/NetworkInvoker.h"

namespace nuva {
namespace {

// A component replaces the caller's by-reference strings: each old string is
// freed exactly once (by the component, which replaces it), each new one
// belongs to the caller. ASan would report a second free; the count shows
// that none leaked either.
TEST(InvokerStrings, ReplacedByReferenceStringsAreFreedOnce) {
    test::TTempDir temp;
    const AnsiString receiveDir = IncludeTrailingPathDelimiter(temp / "recv");
    ASSERT_TRUE(ForceDirectories(receiveDir));
    const ULONG before = NuvaComLiveBstrCount();
    {
        TNetworkInvoker net("TestNet.dll", "NetworkImpl");
        ASSERT_TRUE(net.Ready());
        TBstr config = test::ComponentConfig(
            "NETWORK", {{"POST_STATUS", "sending"}, {"POST_MSG", "sent"}, {"INIT_MSG", "ready"}});
        TBstr msg = TBstr::FromAnsi("left over");
        VARIANT_BOOL ok = VARIANT_TRUE;
        ASSERT_EQ(net.Init(config.Get(), *msg.InOut(), ok), S_OK);
        TBstr header = TBstr::FromAnsi("H"), sendFile = TBstr::FromAnsi(temp / "none");
        TBstr replyHeader = TBstr::FromAnsi("old header"), replyFile = TBstr::FromAnsi(receiveDir);
        TBstr status = TBstr::FromAnsi("old status");
        SHORT progress = 0;
        for (int i = 0; i < 3; ++i) {
            ASSERT_EQ(net.Post(header.Get(), sendFile.Get(), *replyHeader.InOut(),
                               *replyFile.InOut(), progress, *status.InOut(), *msg.InOut(), ok),
                      S_OK);
            ASSERT_EQ(ok, VARIANT_TRUE);
            // Back to the receive directory for the next call.
            replyFile = TBstr::FromAnsi(receiveDir);
        }
        EXPECT_EQ(status.ToAnsi(), "sending");
        EXPECT_EQ(msg.ToAnsi(), "sent");
    }
    EXPECT_EQ(NuvaComLiveBstrCount(), before);
}

}  // namespace
}  // namespace nuva
