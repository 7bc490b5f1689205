// Send with its items packed by several workers: the reply PDU, the final
// message, the progress and the status are those of one worker, for every
// spread of items, and no work file is left.
#include <gtest/gtest.h>

#include <functional>

#include "EngineTestSupport.h"
#include "FaultSweep.h"
#include "engine/EngineTexts.h"

namespace nuva {
namespace {

using test::A;

[[maybe_unused]] ::testing::Environment* const kCom =
    ::testing::AddGlobalTestEnvironment(new test::TComEnvironment);

using TItems = std::vector<std::pair<AnsiString, AnsiString>>;

AnsiString Text(size_t size, uint32_t seed) {
    AnsiString s;
    uint32_t x = seed;
    while (s.size() < size) {
        s += A(u"誠錦") + "<&>\"' ";
        x = x * 1103515245u + 12345u;
        s += std::to_string(x >> 8);
    }
    s.resize(size);
    // A cut GBK pair would not survive the trip; end on a single byte.
    if (!s.empty() && static_cast<unsigned char>(s.back()) >= 0x80) s.back() = 'z';
    return s;
}

struct TSpread {
    const char* what;
    TItems items;
};

std::vector<TSpread> Spreads() {
    TItems tiny, huge, empty;
    for (int i = 0; i < 60; ++i) tiny.push_back({"t" + std::to_string(i) + ".txt", Text(i % 7, i)});
    for (int i = 0; i < 5; ++i) huge.push_back({"s" + std::to_string(i), Text(2000, i)});
    huge.insert(huge.begin() + 2, {A(u"大.xml"), Text(4200 * 1024, 7)});
    empty = {{"e1", ""}, {A(u"誠.txt"), "x"}, {"e2", ""}};
    return {{"one item", {{A(u"錦.txt"), Text(300000, 1)}}},
            {"many tiny items", tiny},
            {"one huge among small", huge},
            {"empty values", empty}};
}

class TSendWorkers : public test::TEngineTest {
  protected:
    AnsiString ConfigWithThreads(int threads) const {
        AnsiString c = Config();
        return c.substr(0, c.size() - 9) + "<THREADS>" + std::to_string(threads) +
               "</THREADS></CONFIG>";
    }
};

TEST_F(TSendWorkers, ReplyAndStepsAreTheSameForAnyNumberOfWorkers) {
    const AnsiString succeeded = A(texts::kSucceeded);
    for (const TSpread& spread : Spreads()) {
        const AnsiString request = Pdu(A(u"誠"), "01", spread.items);
        test::TSendResult one;
        for (int threads : {1, 2, 8}) {
            ASSERT_TRUE(Init(ConfigWithThreads(threads)));
            const test::TSendResult r = Send(request);
            EXPECT_EQ(r.message, succeeded) << spread.what << ", " << threads << " workers";
            EXPECT_EQ(Tree(send_), std::vector<AnsiString>()) << spread.what;
            if (threads == 1) {
                one = r;
                EXPECT_NE(r.reply.find("<CONTENT>"), AnsiString::npos) << spread.what;
                continue;
            }
            EXPECT_TRUE(r.reply == one.reply)
                << spread.what << ", " << threads << " workers: replies differ";
            EXPECT_EQ(r.progress, one.progress) << spread.what;
            EXPECT_EQ(r.status_text, one.status_text) << spread.what;
            EXPECT_EQ(r.result, one.result) << spread.what;
        }
    }
}

// A long request is converted to the code page in pieces side by side: a
// surrogate pair, a character outside the code page and double-byte
// characters at and around every place a piece could end give what one
// thread gives, and what the whole text converted at once gives.
TEST_F(TSendWorkers, LongRequestConvertsAsOneText) {
    WideString head =
        u"<PDU><SENDER>S</SENDER><TYPE_CODE>01</TYPE_CODE><CONTENT><NAME>v</NAME><VALUE>";
    WideString value;
    const WideString filler = u"誠錦 ab&amp;<c>";
    while (value.size() < 3 * 1024 * 1024 + 100) value += filler;
    // Pieces are a mebi-unit long: put a pair across each boundary of the
    // whole text, and one right after it.
    for (size_t boundary = 1024 * 1024; boundary < head.size() + value.size();
         boundary += 1024 * 1024) {
        value[boundary - head.size() - 1] = 0xD83D;  // U+1F600, not in the code page
        value[boundary - head.size()] = 0xDE00;
        value[boundary - head.size() + 1] = u'錦';
    }
    const WideString pdu = head + value + u"</VALUE></CONTENT></PDU>";
    TBstr request(pdu);
    AnsiString texts[2];
    int i = 0;
    for (int threads : {1, 3}) {
        engine_.SetThreads(threads);
        TData req;
        engine_.ReadRequest(request.Get(), req);
        texts[i++] = req.Text;
    }
    EXPECT_TRUE(texts[0] == WideToAnsi(pdu));
    EXPECT_TRUE(texts[1] == texts[0]) << "three workers converted otherwise";
}

// The reply PDU read from its files with the large pieces on the workers,
// in one reading (the converted pieces kept) or in two (a PDU beyond the
// limit of what is kept, found at once or half way): every open and read
// failing in turn ends in an error, never in a reply; without a fault the
// reply is the one-thread reply.
TEST_F(TSendWorkers, ReplyFilesFailingInTurnGiveNoReply) {
    if (!test::FaultInjectionBuilt()) GTEST_SKIP() << test::kNoFaultInjection;
    TData rep;
    rep.Sender = "S";
    rep.Files = std::make_unique<TStringList>();
    const std::pair<const char*, size_t> files[] = {{"big.xml", 700 * 1024}, {"small", 40}};
    for (const auto& [name, size] : files) {
        const AnsiString path = temp_ / name;
        test::WriteAll(path, Text(size, static_cast<uint32_t>(size)));
        rep.Files->Add(path);
    }
    engine_.SetThreads(1);
    const WideString one = engine_.BuildReplyPdu(rep);
    const struct {
        int threads;
        size_t keepLimit;
    } runs[] = {{1, 0}, {3, 0}, {3, size_t{300} << 10}, {3, size_t{16} << 20}};
    for (const auto& [threads, keepLimit] : runs) {
        engine_.SetThreads(threads);
        engine_.SetReplyKeepLimit(keepLimit);
        WideString got;
        bool raised = false;
        const int64_t swept = test::SweepFaults(
            "BuildReply", TFaultError::IoError,
            [&] {
                got.clear();
                raised = false;
                try {
                    got = engine_.BuildReplyPdu(rep);
                } catch (const Exception&) {
                    raised = true;
                }
            },
            [&](const test::TFaultRun& run) {
                if (*run.failedOp) {
                    EXPECT_TRUE(raised) << threads << " threads, fault at " << run.failAt << " ("
                                        << run.failedOp << ") gave a reply";
                } else {
                    EXPECT_FALSE(raised) << threads << " threads";
                    EXPECT_TRUE(got == one)
                        << threads << " threads, keep limit " << keepLimit << ": the reply differs";
                }
            });
        // Two opens and several reads (each reading).
        EXPECT_GE(swept, keepLimit ? 5 : 6) << threads << " threads";
    }
}

// Files converted as the unpacking wrote them are taken only while they
// still read as those bytes: from the same bytes, from bytes with one
// changed and from one byte short, the reply is the one-thread reply of the
// files as they are; also when the PDU turns out one unit too large to keep
// after a file was taken (it is then counted again by reading), and when the
// unpacking kept too little to give a file.
TEST_F(TSendWorkers, ReplyTakesUnpackedPiecesOnlyOfUnchangedFiles) {
    const struct {
        const char* what;
        std::function<void(AnsiString&)> change;
    } kinds[] = {
        {"the files' bytes", [](AnsiString&) {}},
        {"a byte changed",
         [](AnsiString& b) { b[b.size() / 2] = b[b.size() / 2] == 'x' ? 'y' : 'x'; }},
        {"a byte short", [](AnsiString& b) { b.pop_back(); }},
    };
    const std::pair<const char*, size_t> files[] = {{"small", 40}, {"big.xml", 700 * 1024}};
    for (const auto& kind : kinds) {
        TData plain;
        plain.Sender = "S";
        plain.Files = std::make_unique<TStringList>();
        for (const auto& [name, size] : files) {
            AnsiString written = Text(size, static_cast<uint32_t>(size));
            kind.change(written);
            test::WriteAll(temp_ / name, written);
            plain.Files->Add(temp_ / name);
        }
        engine_.SetThreads(1);
        const WideString one = engine_.BuildReplyPdu(plain);
        // The reply's keep limit, and the unpacking's (beyond it a file is
        // read as without the unpacked pieces).
        const std::pair<size_t, size_t> limits[] = {{size_t{16} << 20, size_t{16} << 20},
                                                    {one.size() - 1, size_t{16} << 20},
                                                    {size_t{16} << 20, size_t{100} << 10}};
        for (const auto& [keepLimit, unpackLimit] : limits) {
            TData rep;
            rep.Sender = plain.Sender;
            rep.Files = std::make_unique<TStringList>(*plain.Files);
            rep.Unpacked = std::make_unique<TReplyPieces>(3, unpackLimit);
            for (const auto& [name, size] : files) {
                const AnsiString text = Text(size, static_cast<uint32_t>(size));
                rep.Unpacked->Begin(temp_ / name);
                // In the pieces an extraction writes.
                for (size_t at = 0; at < text.size(); at += 32768)
                    rep.Unpacked->Add(reinterpret_cast<const uint8_t*>(text.data()) + at,
                                      std::min<size_t>(32768, text.size() - at));
                rep.Unpacked->End(true);
            }
            engine_.SetThreads(3);
            engine_.SetReplyKeepLimit(keepLimit);
            EXPECT_TRUE(engine_.BuildReplyPdu(rep) == one)
                << kind.what << ", keep limit " << keepLimit << ", unpacking's " << unpackLimit;
        }
    }
}

// The THREADS setting: a count within 1..8, anything else the default.
TEST_F(TSendWorkers, ThreadsSettingIsReadAsACount) {
    const struct {
        const char* value;
        int expected;
    } cases[] = {{"1", 1}, {" 4 ", 4}, {"12", 12}, {"", 0},
                 {"0", 0}, {"-2", 0},  {"two", 0}, {"3x", 0}};
    for (const auto& c : cases) {
        AnsiString config = Config();
        config =
            config.substr(0, config.size() - 9) + "<THREADS>" + c.value + "</THREADS></CONFIG>";
        engine_.ReadConfig(config);
        EXPECT_EQ(engine_.Config().Threads, c.expected) << "\"" << c.value << "\"";
    }
    engine_.ReadConfig(Config());
    EXPECT_EQ(engine_.Config().Threads, 0);
}

}  // namespace
}  // namespace nuva
