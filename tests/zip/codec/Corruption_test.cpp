// Damaged streams for every decoder: truncation at every offset, flipped
// bytes, wrong lengths. Each run must end, with no access outside a buffer
// (the sanitizers watch), and whatever reached the output stage must be a
// prefix of the real data: a decoder hands over only what it decoded before
// it noticed the damage.
#include <gtest/gtest.h>
#include <zlib.h>

#include "LegacyEncoders.h"
#include "LegacyTestSupport.h"
#include "platform/Errors.h"

namespace nuva {
namespace {

struct TSubject {
    std::string name;
    uint16_t method;
    uint16_t flags;
    std::string plain;
    std::string stream;
    bool endsAtInputEnd;  // shrink: a cut stream is a shorter valid one
};

std::vector<TSubject> Subjects() {
    std::string text = test::SampleText(1500, 61) + test::SampleRuns(1000, 62);
    std::vector<TSubject> s;
    s.push_back(
        {"inflate level 6", 8, 0, text, test::ZlibDeflateRaw(text, 6, Z_DEFAULT_STRATEGY), false});
    s.push_back({"inflate fixed", 8, 0, text, test::ZlibDeflateRaw(text, 6, Z_FIXED), false});
    s.push_back({"inflate stored", 8, 0, text.substr(0, 700),
                 test::ZlibDeflateRaw(text.substr(0, 700), 0, 0), false});
    s.push_back({"shrink", 1, 0, text, test::ShrinkEncode(text, {{40}, true}), true});
    for (int factor = 1; factor <= 4; ++factor) {
        test::TReduceOptions o;
        o.factor = factor;
        s.push_back({"reduce " + std::to_string(factor), uint16_t(1 + factor), 0, text,
                     test::ReduceEncode(text, o), false});
    }
    for (uint16_t flags : {0, 2, 4, 6}) {
        test::TImplodeOptions o;
        o.flags = flags;
        s.push_back({"implode flags " + std::to_string(flags), 6, flags, text,
                     test::ImplodeEncode(text, o), false});
    }
    return s;
}

class CorruptionTest : public ::testing::Test {
  protected:
    test::TDecoded Decode(const TSubject& s, const std::string& stream, int64_t size = -1,
                          size_t chunk = 64, bool view = false) {
        return test::DecodeMethod(s.method, s.flags, stream, int64_t(stream.size()),
                                  size < 0 ? int64_t(s.plain.size()) : size, chunk, view);
    }
    static bool IsPrefix(const std::string& got, const std::string& of) {
        return got.size() <= of.size() && of.compare(0, got.size(), got) == 0;
    }
    std::vector<TSubject> subjects_ = Subjects();
};

TEST_F(CorruptionTest, IntactStreamsDecode) {
    for (const TSubject& s : subjects_) {
        test::TDecoded d = Decode(s, s.stream);
        EXPECT_EQ(d.result, 0) << s.name;
        EXPECT_TRUE(d.bytes == s.plain) << s.name;
    }
}

TEST_F(CorruptionTest, TruncationAtEveryOffsetEndsCleanly) {
    for (const TSubject& s : subjects_) {
        for (size_t n = 0; n < s.stream.size(); ++n) {
            // In 64-byte reads, and as one view of the whole input.
            for (bool view : {false, true}) {
                test::TDecoded d = Decode(s, s.stream.substr(0, n), -1, 64, view);
                if (s.endsAtInputEnd) {
                    EXPECT_EQ(d.result, 0) << s.name << " cut at " << n << " view " << view;
                } else {
                    EXPECT_NE(d.result, 0) << s.name << " cut at " << n << " view " << view;
                }
                EXPECT_TRUE(IsPrefix(d.bytes, s.plain)) << s.name << " cut at " << n;
            }
        }
    }
}

TEST_F(CorruptionTest, FlippedBytesEndCleanly) {
    for (const TSubject& s : subjects_) {
        int failures = 0;
        for (size_t i = 0; i < s.stream.size(); i += 1 + s.stream.size() / 300) {
            for (uint8_t mask : {uint8_t(0x01), uint8_t(0x80), uint8_t(0xFF)}) {
                std::string damaged = s.stream;
                damaged[i] = char(damaged[i] ^ mask);
                test::TDecoded d = Decode(s, damaged, -1, 1 + i % 300);
                if (d.result != 0 || d.bytes != s.plain) ++failures;
                for (size_t p : d.pieces) EXPECT_LE(p, 32768u) << s.name;
                if (s.method >= 2 && s.method <= 6) {
                    EXPECT_LE(d.bytes.size(), s.plain.size()) << s.name;
                }
            }
        }
        EXPECT_GT(failures, 0) << s.name;  // the damage was noticed somewhere
    }
}

TEST_F(CorruptionTest, WrongUncompressedSizes) {
    for (const TSubject& s : subjects_) {
        if (s.method < 2 || s.method > 6) continue;  // sizes steer only reduce and implode
        struct Case {
            int64_t size;
            bool ok;
        } cases[] = {
            {0, true},
            {int64_t(s.plain.size()) / 2, true},
            {int64_t(s.plain.size()) + 100, false},  // more than the padding bits can hold
            {int64_t(1) << 40, false},
            {-1 - int64_t(s.plain.size()), false},
        };
        for (const Case& c : cases) {
            int64_t size = c.size < -1 ? -1 : c.size;
            test::TDecoded d =
                test::DecodeMethod(s.method, s.flags, s.stream, int64_t(s.stream.size()),
                                   c.size < 0 ? int64_t(-1) : size, 1000);
            EXPECT_EQ(d.result == 0, c.ok) << s.name << " size " << c.size;
            EXPECT_TRUE(IsPrefix(d.bytes.substr(0, s.plain.size()), s.plain))
                << s.name << " size " << c.size;
            if (c.ok) {
                EXPECT_EQ(int64_t(d.bytes.size()), size) << s.name;
            }
        }
    }
}

TEST_F(CorruptionTest, GarbageAfterTheStreamIsNotData) {
    for (const TSubject& s : subjects_) {
        if (s.endsAtInputEnd) continue;  // shrink reads to the end of its input
        test::TDecoded d = Decode(s, s.stream + test::SampleRandom(100, 63));
        EXPECT_EQ(d.result, 0) << s.name;
        EXPECT_TRUE(d.bytes == s.plain) << s.name;
    }
}

// The stages' exceptions (a premature end of the archive, a full disk)
// reach the caller unchanged from every decoder.
TEST_F(CorruptionTest, StageExceptionsPassThrough) {
    struct TThrowingInput : TCodecInput {
        size_t Read(uint8_t*, size_t) override { throw Exception("Premature end of file reached"); }
    };
    struct TThrowingOutput : TCodecOutput {
        void Write(const uint8_t*, size_t) override {
            throw Exception("Cant write uncompressed file");
        }
    };
    for (const TSubject& s : subjects_) {
        for (bool failInput : {true, false}) {
            TThrowingInput badIn;
            test::TMemoryInput goodIn(s.stream);
            TThrowingOutput badOut;
            test::TMemoryOutput goodOut;
            TCodecInput& in = failInput ? static_cast<TCodecInput&>(badIn) : goodIn;
            TCodecOutput& out = failInput ? static_cast<TCodecOutput&>(goodOut) : badOut;
            const char* expected =
                failInput ? "Premature end of file reached" : "Cant write uncompressed file";
            try {
                switch (s.method) {
                    case 1:
                        TUnShrinker().Run(in, out);
                        break;
                    case 6:
                        TExploder().Run(in, out, s.flags, int64_t(s.stream.size()),
                                        int64_t(s.plain.size()));
                        break;
                    case 8:
                        TInflater().Run(in, out);
                        break;
                    default:
                        TUnReducer().Run(in, out, s.method - 1, int64_t(s.plain.size()));
                        break;
                }
                ADD_FAILURE() << s.name << ": no exception";
            } catch (const Exception& e) {
                EXPECT_STREQ(e.what(), expected) << s.name;
            }
        }
    }
}

}  // namespace
}  // namespace nuva
