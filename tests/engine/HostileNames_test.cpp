// Names from outside that would leave their work directory: a "/", ".." or a
// control byte must not hide behind a lone double-byte lead byte.
#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "engine/EngineInternal.h"
#include "util/util.h"

namespace nuva {
namespace {

using test::A;

[[maybe_unused]] ::testing::Environment* const kCom =
    ::testing::AddGlobalTestEnvironment(new test::TComEnvironment);

// Lead bytes followed by what is no trail byte of the code page.
const char* const kHiddenBehindALeadByte[] = {
    "A\x81/..", "A\x81\nB", "A\xFE:B", "A\x81\x7F", "A\x81\xFF", "\x81\x1F",
};

TEST(IsSafeName, ALeadByteNeedsATrailByteOfTheCodePage) {
    for (const char* name : kHiddenBehindALeadByte) EXPECT_FALSE(IsSafeName(name)) << name;
    // Every trail byte of GBK completes a character: 0x40-0x7E and 0x80-0xFE,
    // "\" and "|" among them.
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
        if (trail == 0x7F) continue;
        const AnsiString name = AnsiString("A\x81") + static_cast<char>(trail) + "B";
        EXPECT_TRUE(IsSafeName(name)) << trail;
    }
}

class THostileNames : public test::TEngineTest {
  protected:
    THostileNames() { engine_.ReadConfig(Config()); }
};

// The reply header's sender and file name (the reserve of an uncompressed
// body) become a directory and a file: the engine refuses them before it
// makes either.
TEST_F(THostileNames, ReplyHeaderNamesHidingADelimiterAreRefused) {
    const AnsiString flags = "01  100";  // type code, then body, not encrypted, not compressed
    for (const char* name : kHiddenBehindALeadByte) {
        SCOPED_TRACE(name);
        TData asSender, asReserve;
        asSender.Header = test::PadTo(name, 22) + flags;
        EXPECT_FALSE(engine_.ParseReplyHeader(asSender));
        asReserve.Header = test::PadTo("SRV", 22) + flags + name;
        EXPECT_FALSE(engine_.ParseReplyHeader(asReserve));
    }
    // Nothing was made for them: no directory, no moved file.
    EXPECT_EQ(Tree(temp_.Path()), (std::vector<AnsiString>{"recv" + AnsiString(1, PathDelim),
                                                           "send" + AnsiString(1, PathDelim)}));
}

}  // namespace
}  // namespace nuva
