// NuvaNet's Post against replies that nuva-server never sends, from a stub
// HTTP server on the loopback interface.
#include <gtest/gtest.h>

#include "LoopbackSupport_posix.h"
#include "invokers/InvokerTestSupport.h"
#include "invokers/NetworkInvoker.h"
#include "net/NetTexts.h"
#include "net/Wire.h"

namespace nuva {
namespace {

using test::A;

// A reply header that says there is no body, then `data`: only an empty
// data part is a reply; anything behind the header is refused and leaves no
// reply file.
TEST(NuvaNetReply, DataBehindANoBodyHeaderIsRefused) {
    wire::THeader h;
    h.sender = "ABC";
    h.typeCode = "01";
    h.hasBody = false;
    h.date = "20250101";
    const std::string replyHeader = wire::BuildHeader(h);
    ASSERT_EQ(replyHeader.size(), 64u);
    struct {
        const char* name;
        std::string data;
        bool ok;
        AnsiString msg;
    } const cases[] = {
        {"nothing behind the header", "", true, ""},
        {"data behind the header", "unexpected data", false, A(net::texts::kUnexpectedBody)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string body = replyHeader + c.data;
        test::TStubHttpServer stub(
            "HTTP/1.1 200 OK\r\nContent-Type: " + std::string(wire::kDataType) +
            "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
            body);
        ASSERT_NE(stub.Port(), 0);
        test::TTempDir dir;
        TNetworkInvoker net("NuvaNet.dll", "NetworkImpl");
        ASSERT_TRUE(net.Ready());
        TBstr config = test::ComponentConfig(
            "NETWORK", {{"URL", "http://127.0.0.1:" + std::to_string(stub.Port())},
                        {"RECEIVE_TIMEOUT", "10000"}});
        TBstr msg;
        VARIANT_BOOL ok = VARIANT_FALSE;
        ASSERT_EQ(net.Init(config.Get(), *msg.InOut(), ok), S_OK);
        ASSERT_TRUE(ok) << msg.ToAnsi();

        const AnsiString receiveDir = IncludeTrailingPathDelimiter(dir / "recv");
        TBstr header = TBstr::FromAnsi(wire::BuildHeader(h)), sendFile = TBstr::FromAnsi("");
        TBstr gotHeader, replyFile = TBstr::FromAnsi(receiveDir), status;
        SHORT progress = 0;
        ok = VARIANT_FALSE;
        ASSERT_EQ(net.Post(header.Get(), sendFile.Get(), *gotHeader.InOut(), *replyFile.InOut(),
                           progress, *status.InOut(), *msg.InOut(), ok),
                  S_OK);
        EXPECT_EQ(ok != VARIANT_FALSE, c.ok);
        EXPECT_EQ(msg.ToAnsi(), c.msg);
        EXPECT_EQ(stub.Request().rfind("POST ", 0), 0u);
        // No reply file either way: a reply without a body has none.
        EXPECT_EQ(replyFile.ToAnsi(), receiveDir);
        size_t files = 0;
        for (const TDirEntry& e : ListDirectoryEntries(receiveDir))
            if (e.name != "." && e.name != "..") ++files;
        EXPECT_EQ(files, 0u);
    }
}

}  // namespace
}  // namespace nuva
