// The request PDU, the transport header and the reply PDU, without
// components.
#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "util/util.h"

namespace nuva {
namespace {

using test::A;

AnsiString Today() {
    const TLocalDate d = LocalDate();
    return Format("%04d%02d%02d", d.year, d.month, d.day);
}

class TFormats : public test::TEngineTest {
  protected:
    TFormats() { engine_.ReadConfig(Config()); }
};

TEST_F(TFormats, HeaderColumns) {
    const AnsiString gbkAtColumn22 =
        AnsiString(21, 'A') + A(u"誠");  // D5 5C: the lead byte is column 22
    struct {
        AnsiString sender, typeCode, reserve;
        bool body, crypt, compress;
        AnsiString expected;  // without the date
    } cases[] = {
        {"ABC", "01", "", true, true, true,
         "ABC" + AnsiString(19, ' ') + "01  111" + AnsiString(27, ' ')},
        // Flag columns: body, encrypted, compressed.
        {"ABC", "01", "R", true, false, true,
         "ABC" + AnsiString(19, ' ') + "01  101R" + AnsiString(26, ' ')},
        {"ABC", "01", "", false, true, false,
         "ABC" + AnsiString(19, ' ') + "01  010" + AnsiString(27, ' ')},
        {AnsiString(30, 'S'), " ab ", "", true, true, true,
         AnsiString(22, 'S') + "ab  111" + AnsiString(27, ' ')},
        {gbkAtColumn22, "01", "", true, true, true,
         AnsiString(21, 'A') +
             "\xD5"
             "01  111" +
             AnsiString(27, ' ')},
    };
    for (const auto& c : cases) {
        TData req;
        req.Sender = c.sender;
        req.TypeCode = c.typeCode;
        req.Reserve = c.reserve;
        req.HasBody = c.body;
        req.IsCrypt = c.crypt;
        req.IsCompress = c.compress;
        ASSERT_TRUE(engine_.BuildHeader(req));
        EXPECT_EQ(req.Header, c.expected + Today()) << c.sender;
        EXPECT_EQ(req.Header.size(), 64u);
    }
}

TEST_F(TFormats, ReplyHeaderFields) {
    AnsiString received = receive_ + PathDelim + "TestNet.reply";
    ForceDirectories(receive_);
    test::WriteAll(received, "body");
    TData rep;
    // Type code "7", then the flag columns "1", "0" and " ".
    rep.Header = test::PadTo("SRV", 22) + "7   10 " + test::PadTo("out.txt", 27) + "20261208";
    rep.DataFile = received;
    ASSERT_TRUE(engine_.ParseReplyHeader(rep));
    EXPECT_EQ(rep.Sender, "SRV");
    EXPECT_EQ(rep.TypeCode, "7");
    EXPECT_TRUE(rep.HasBody);
    EXPECT_FALSE(rep.IsCrypt);
    EXPECT_FALSE(rep.IsCompress);
    EXPECT_EQ(rep.Reserve, "out.txt");
    EXPECT_EQ(rep.Date, "20261208");
    // An uncompressed body is moved to the name in the reserve field.
    const AnsiString moved = receive_ + PathDelim + "SRV" + PathDelim + "out.txt";
    EXPECT_EQ(rep.DataFile, moved);
    EXPECT_EQ(test::ReadAll(moved), "body");
    EXPECT_EQ(rep.ZipFile, receive_ + PathDelim + "SRV.zip");

    TData shortOne;
    shortOne.Header = "XYZ";
    ASSERT_TRUE(engine_.ParseReplyHeader(shortOne));
    EXPECT_EQ(shortOne.Sender, "XYZ");
    EXPECT_FALSE(shortOne.HasBody);
}

TEST_F(TFormats, ReplyHeaderNamesThatWouldLeaveTheReceiveDirectory) {
    const AnsiString flags = "01  100";  // type code, then body, not encrypted, not compressed
    const AnsiString senders[] = {"..",  "a/b",     "a\\b", "C:x",
                                  "CON", "nul.txt", "",     AnsiString(21, 'A') + "\xD5"};
    for (const AnsiString& sender : senders) {
        TData rep;
        rep.Header = test::PadTo(sender, 22) + flags;
        EXPECT_FALSE(engine_.ParseReplyHeader(rep)) << sender;
    }
    TData rep;
    rep.Header = test::PadTo("SRV", 22) + flags + "..";
    EXPECT_FALSE(engine_.ParseReplyHeader(rep)) << "reserve ..";
    EXPECT_EQ(Tree(temp_.Path()), (std::vector<AnsiString>{"recv" + AnsiString(1, PathDelim),
                                                           "send" + AnsiString(1, PathDelim)}));
}

TEST_F(TFormats, RequestItemsBecomeFiles) {
    const AnsiString pdu =
        "<PDU><SENDER>S1</SENDER><TYPE_CODE>01</TYPE_CODE><RESERVE>r&amp;d</RESERVE>"
        "<CONTENT><NAME>" +
        A(u"誠.txt") +
        "</NAME><VALUE>&amp;lt;</VALUE></CONTENT>"
        "<CONTENT><NAME>" +
        A(u"錦.txt") + "</NAME><VALUE>" + A(u"锦缎") + "</VALUE></CONTENT></PDU>";
    TBstr request = TBstr::FromAnsi(pdu);
    TData req;
    engine_.ReadRequest(request.Get(), req);
    EXPECT_EQ(req.Sender, "S1");
    EXPECT_EQ(req.Reserve, "r&d");
    const AnsiString dir = send_ + PathDelim + "S1" + PathDelim;
    ASSERT_EQ(req.Files->Count(), 2);
    EXPECT_EQ((*req.Files)[0], dir + A(u"誠.txt"));
    // "&amp;" is resolved last: "&amp;lt;" is written as "&lt;".
    EXPECT_EQ(test::ReadAll(dir + A(u"誠.txt")), "&lt;");
    EXPECT_EQ(test::ReadAll(dir + A(u"錦.txt")), A(u"锦缎"));
    EXPECT_EQ(req.ZipFile, send_ + PathDelim + "S1.zip");
    EXPECT_EQ(req.DataFile, send_ + PathDelim + "S1.CA");
}

TEST_F(TFormats, RequestNamesThatWouldLeaveTheSendDirectory) {
    struct {
        AnsiString sender, name;
    } cases[] = {{"..", "a.txt"}, {"S1", ".."},  {"S1", "../x"}, {"S1", "sub\\x"},
                 {"S1", "c:x"},   {"S1", "aux"}, {"S1", "x\x01"}};
    for (const auto& c : cases) {
        TBstr request = TBstr::FromAnsi(Pdu(c.sender, "01", {{c.name, "v"}}));
        TData req;
        try {
            engine_.ReadRequest(request.Get(), req);
            ADD_FAILURE() << "accepted " << c.sender << " / " << c.name;
        } catch (const EFCreateError& e) {
            EXPECT_EQ(AnsiString(e.what()).rfind("Cannot create file \"", 0), 0u) << e.what();
        }
    }
    EXPECT_EQ(Tree(temp_.Path()),
              (std::vector<AnsiString>{"recv" + AnsiString(1, PathDelim),
                                       "send" + AnsiString(1, PathDelim),
                                       "send" + AnsiString(1, PathDelim) + "S1" + PathDelim}));
}

TEST_F(TFormats, ReplyPdu) {
    TData rep;
    rep.Sender = "S&1";
    rep.TypeCode = "01";
    EXPECT_EQ(WideToAnsi(engine_.BuildReplyPdu(rep)),
              "<?xml version=\"1.0\" encoding=\"GBK\"?> <PDU><SENDER>S&amp;1</SENDER>"
              "<TYPE_CODE>01</TYPE_CODE><RESERVE></RESERVE></PDU>");
    const AnsiString file = temp_ / A(u"誠.txt");
    test::WriteAll(file, "a&b<c");
    rep.Files = std::make_unique<TStringList>();
    rep.Files->Add(file);
    EXPECT_EQ(WideToAnsi(engine_.BuildReplyPdu(rep)),
              "<?xml version=\"1.0\" encoding=\"GBK\"?> <PDU><SENDER>S&amp;1</SENDER>"
              "<TYPE_CODE>01</TYPE_CODE><RESERVE></RESERVE><CONTENT><NAME>" +
                  A(u"誠.txt") + "</NAME><VALUE>a&amp;b&lt;c</VALUE></CONTENT></PDU>");
}

}  // namespace
}  // namespace nuva
