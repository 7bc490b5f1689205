// What only the POSIX build has: '/' paths without drives, and names stored
// on disk in UTF-8 while the system sees them in GBK.
#include <gtest/gtest.h>

#include <iconv.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>

#include "PlatformTestText.h"
#include "TestSupport.h"
#include "platform/Platform.h"
#include "platform/posix/PosixInternal.h"

namespace nuva {
namespace {

using namespace nuva::test;

TEST(PosixTest, AColonIsAnOrdinaryByte) {
    EXPECT_EQ(ExtractFileName("C:x.txt"), "C:x.txt");
    EXPECT_EQ(ExtractFilePath("C:x.txt"), "");
}

TEST(PosixTest, NamesOnDiskAreUtf8) {
    TTempDir tmp;
    const AnsiString names[] = {kGbkCheng, kGbkZhongWen + ".txt"};
    for (const AnsiString& name : names) {
        WriteAll(tmp / name, "x");
        std::ifstream byUtf8Name(AnsiToUtf8(tmp / name));
        EXPECT_TRUE(byUtf8Name.good()) << AnsiToUtf8(name);
        std::ifstream byGbkName(tmp / name);
        EXPECT_FALSE(byGbkName.good()) << AnsiToUtf8(name);
    }
}

// The code-page conversions go by table: they must say what the C library's
// GBK says, code by code, both ways; '?' where it has no mapping.
TEST(PosixTest, CodePageTablesAgreeWithTheCLibrary) {
    iconv_t decode = iconv_open("UTF-16LE", "GBK");
    iconv_t encode = iconv_open("GBK", "UTF-16LE");
    ASSERT_NE(decode, reinterpret_cast<iconv_t>(-1));
    auto convert = [](iconv_t cd, const std::string& in, std::string* out) {
        char buffer[8];
        char* src = const_cast<char*>(in.data());
        char* dst = buffer;
        size_t srcLeft = in.size(), dstLeft = sizeof buffer;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        const bool ok = iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<size_t>(-1);
        out->assign(buffer, sizeof buffer - dstLeft);
        return ok && srcLeft == 0;
    };
    int mismatches = 0;
    std::string ref;
    for (unsigned lead = 0x80; lead <= 0xFF; ++lead) {
        for (unsigned trail = 0x3F; trail <= 0xFF; ++trail) {
            // 0x3F: the byte alone, then as a lead byte with each trail byte.
            const std::string pair =
                trail == 0x3F ? std::string(1, char(lead)) : std::string{char(lead), char(trail)};
            const WideString got = AnsiToWide(pair);
            if (convert(decode, pair, &ref)) {
                mismatches += got != WideString(reinterpret_cast<const char16_t*>(ref.data()),
                                                ref.size() / 2);
            } else if (pair.size() == 1 || lead != 0x80) {
                mismatches += got.empty() || got[0] != u'?';
            }
        }
    }
    // Each unit alone, and all of them in one text (with ASCII between) as
    // the units alone give them.
    WideString all;
    AnsiString allExpected;
    for (unsigned unit = 0x80; unit <= 0xFFFF; ++unit) {
        if (unit >= 0xD800 && unit <= 0xDFFF) continue;
        const std::string in{char(unit & 0xFF), char(unit >> 8)};
        const AnsiString got = WideToAnsi(WideString(1, char16_t(unit)));
        mismatches += convert(encode, in, &ref) ? got != ref : got != "?";
        all += char16_t(unit);
        allExpected += got;
        if (unit % 7 == 0) {
            all += u'a';
            allExpected += 'a';
        }
    }
    EXPECT_EQ(WideToAnsi(all), allExpected);
    iconv_close(decode);
    iconv_close(encode);
    EXPECT_EQ(mismatches, 0);
}

uint32_t DosOf(int year, int month, int day, int hour, int minute, int second) {
    return uint32_t(year - 1980) << 25 | uint32_t(month) << 21 | uint32_t(day) << 16 |
           uint32_t(hour) << 11 | uint32_t(minute) << 5 | uint32_t(second / 2);
}

time_t MktimeOf(uint32_t dos) {
    struct tm lt;
    std::memset(&lt, 0, sizeof lt);
    lt.tm_year = int(dos >> 25) + 80;
    lt.tm_mon = int((dos >> 21) & 15) - 1;
    lt.tm_mday = int((dos >> 16) & 31);
    lt.tm_hour = int((dos >> 11) & 31);
    lt.tm_min = int((dos >> 5) & 63);
    lt.tm_sec = int(dos & 31) * 2;
    lt.tm_isdst = -1;
    return mktime(&lt);
}

// DOS times become what mktime makes of them, also across clock changes
// (whole hours, half an hour at Lord Howe Island) where a kept hour start
// must not be reused.
TEST(PosixTest, DosTimesConvertAsMktimeDoesAcrossClockChanges) {
    const struct {
        const char* zone;
        int month, day;  // first of three days around a change in 2024
    } sweeps[] = {
        {"UTC", 3, 9},
        {"Asia/Shanghai", 6, 1},
        {"America/New_York", 3, 9},
        {"America/New_York", 11, 2},
        {"Europe/London", 3, 30},
        {"Europe/London", 10, 26},
        {"Australia/Lord_Howe", 4, 6},
        {"Australia/Lord_Howe", 10, 5},
    };
    const char* saved = std::getenv("TZ");
    const std::string savedTz = saved ? saved : "";
    for (const auto& s : sweeps) {
        const std::string file = std::string("/usr/share/zoneinfo/") + s.zone;
        ASSERT_TRUE(std::ifstream(file).good()) << file << " is missing (package tzdata)";
        setenv("TZ", s.zone, 1);
        tzset();
        // An hour of another year first, so that no hour kept under the
        // previous zone is reused.
        EXPECT_EQ(posix::DosToTime(DosOf(1990, 1, 1, 0, 0, 0)),
                  MktimeOf(DosOf(1990, 1, 1, 0, 0, 0)));
        int mismatches = 0;
        for (int day = s.day; day < s.day + 3; ++day) {
            for (int minute = 0; minute < 24 * 60; minute += 3) {
                const uint32_t dos =
                    DosOf(2024, s.month, day, minute / 60, minute % 60, minute % 60);
                if (posix::DosToTime(dos) != MktimeOf(dos) && ++mismatches <= 3)
                    ADD_FAILURE() << s.zone << " 2024-" << s.month << "-" << day << " "
                                  << minute / 60 << ":" << minute % 60;
            }
        }
        EXPECT_EQ(mismatches, 0) << s.zone;
    }
    if (saved)
        setenv("TZ", savedTz.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

}  // namespace
}  // namespace nuva
