// NuvaNet against a peer that answers as a hostile or broken server might
// (hostile_peer.py, started by with-hostile-peer.sh): a reply over MAX_REPLY,
// a sender hiding "/.." behind a lone lead byte, a redirect. Each is ok false
// with its text, and no reply file stays in the receive directory.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "invokers/InvokerTestSupport.h"
#include "invokers/NetworkInvoker.h"
#include "net/NetTexts.h"

namespace nuva {
namespace {

using test::A;
using test::ComponentConfig;
using test::TTempDir;
using test::WriteAll;

[[maybe_unused]] ::testing::Environment* const kCom =
    ::testing::AddGlobalTestEnvironment(new test::TComEnvironment);

std::vector<AnsiString> Names(const AnsiString& dir) {
    std::vector<AnsiString> names;
    for (const TDirEntry& e : ListDirectoryEntries(dir))
        if (e.name != "." && e.name != "..") names.push_back(e.name);
    return names;
}

TEST(NuvaNetHostilePeer, RefusesWhatNoServerShouldSend) {
    const char* url = std::getenv("NUVA_IT_HOSTILE_URL");
    if (!url || !*url) GTEST_SKIP() << "no hostile peer: run through with-hostile-peer.sh";
    TTempDir dir;
    const AnsiString receive = dir / "recv" + PathDelim;
    ForceDirectories(receive);
    TNetworkInvoker net("NuvaNet.dll", "NetworkImpl");
    ASSERT_TRUE(net.Ready());
    TBstr config = ComponentConfig("NETWORK", {{"URL", url}, {"MAX_REPLY", "100000"}}), initMsg;
    VARIANT_BOOL initOk = VARIANT_FALSE;
    ASSERT_EQ(net.Init(config.Get(), *initMsg.InOut(), initOk), S_OK);
    ASSERT_NE(initOk, VARIANT_FALSE) << initMsg.ToAnsi();

    struct {
        const char* typeCode;
        AnsiString msg;  // the message starts with it
    } const cases[] = {
        {"BIGL", A(net::texts::kReplyTooLarge) + "100000"},
        {"BIGC", A(net::texts::kReplyTooLarge) + "100000"},
        {"EVIL", A(net::texts::kUnsafeSender)},
        {"REDI", A(net::texts::kHttpErrorOpen) + "302"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typeCode);
        // No body: the reply alone is under test.
        const AnsiString header = AnsiString("ABC").append(19, ' ') + c.typeCode + "000" +
                                  AnsiString(27, ' ') + "20260101";
        ASSERT_EQ(header.size(), 64u);
        TBstr h = TBstr::FromAnsi(header), file = TBstr::FromAnsi(""), replyHeader,
              replyFile = TBstr::FromAnsi(receive), status, msg;
        SHORT progress = 0;
        VARIANT_BOOL ok = VARIANT_TRUE;
        EXPECT_EQ(net.Post(h.Get(), file.Get(), *replyHeader.InOut(), *replyFile.InOut(), progress,
                           *status.InOut(), *msg.InOut(), ok),
                  S_OK);
        EXPECT_EQ(ok, VARIANT_FALSE);
        EXPECT_EQ(msg.ToAnsi().rfind(c.msg, 0), 0u) << msg.ToAnsi();
        EXPECT_EQ(Names(receive), std::vector<AnsiString>());
    }
}

}  // namespace
}  // namespace nuva
