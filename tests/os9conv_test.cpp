// Conversions: numbers, powers, dates, names on disk, help text.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "os9conv.h"

namespace {

// Seconds since the epoch of a UTC civil time, by the days-from-civil count
// (independent of the host's time functions).
std::time_t utc_seconds(int y, int m, int d, int hh, int mm, int ss) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yoe = y - era * 400;
    const long long doy = (153LL * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const long long days = era * 146097 + doe - 719468;
    return static_cast<std::time_t>(days * 86400 + hh * 3600 + mm * 60 + ss);
}

// Runs with a chosen TZ and puts the old one back.
class UnixToOS9Time : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* tz = std::getenv("TZ")) saved_ = std::string(tz);
    }
    void TearDown() override {
        if (saved_) setenv("TZ", saved_->c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }
    static void use(const char* tz) {
        setenv("TZ", tz, 1);
        tzset();
    }

private:
    std::optional<std::string> saved_;
};

}  // namespace

// ---- StrToInt ---------------------------------------------------------------

TEST(StrToInt, HexadecimalWithDollarPrefixInEitherCase) {
    EXPECT_EQ(rbf::StrToInt("$1f"), 31);
    EXPECT_EQ(rbf::StrToInt("$1F"), 31);
    EXPECT_EQ(rbf::StrToInt("$FF"), 255);
    EXPECT_EQ(rbf::StrToInt("$ff"), 255);
    EXPECT_EQ(rbf::StrToInt("$10"), 16);
    EXPECT_EQ(rbf::StrToInt("$aBcD"), 0xABCD);
}

TEST(StrToInt, BinaryWithPercentPrefix) {
    EXPECT_EQ(rbf::StrToInt("%101"), 5);
    EXPECT_EQ(rbf::StrToInt("%1"), 1);
    EXPECT_EQ(rbf::StrToInt("%0"), 0);
    EXPECT_EQ(rbf::StrToInt("%11111111"), 255);
}

TEST(StrToInt, OctalWithLeadingZero) {
    EXPECT_EQ(rbf::StrToInt("017"), 15);
    EXPECT_EQ(rbf::StrToInt("0777"), 511);
    EXPECT_EQ(rbf::StrToInt("010"), 8);
    EXPECT_EQ(rbf::StrToInt("0"), 0);
}

TEST(StrToInt, DecimalWithoutPrefixIncludingSign) {
    EXPECT_EQ(rbf::StrToInt("42"), 42);
    EXPECT_EQ(rbf::StrToInt("-7"), -7);
    EXPECT_EQ(rbf::StrToInt("+9"), 9);
    EXPECT_EQ(rbf::StrToInt("123456"), 123456);
    EXPECT_EQ(rbf::StrToInt("12abc"), 12);
}

TEST(StrToInt, PrefixWithoutDigitsIsZero) {
    EXPECT_EQ(rbf::StrToInt("$"), 0);
    EXPECT_EQ(rbf::StrToInt("%"), 0);
}

TEST(StrToInt, PrefixedNumberEndsAtFirstCharacterOutsideItsBase) {
    EXPECT_EQ(rbf::StrToInt("$1G"), 1);       // G is no hex digit
    EXPECT_EQ(rbf::StrToInt("$1fz9"), 31);
    EXPECT_EQ(rbf::StrToInt("%102"), 2);      // 2 is no binary digit: "10"
    EXPECT_EQ(rbf::StrToInt("%11 1"), 3);
    EXPECT_EQ(rbf::StrToInt("0178"), 15);     // 8 is no octal digit: "17"
    EXPECT_EQ(rbf::StrToInt("09"), 0);        // no octal digit at all
    EXPECT_EQ(rbf::StrToInt("$-1"), 0);
}

TEST(StrToInt, HexArithmeticIs32BitAndWraps) {
    EXPECT_EQ(rbf::StrToInt("$7FFFFFFF"), INT_MAX);
    EXPECT_EQ(rbf::StrToInt("$FFFFFFFF"), -1);
    EXPECT_EQ(rbf::StrToInt("$80000000"), INT_MIN);
    EXPECT_EQ(rbf::StrToInt("$100000001"), 1);  // 2^32 + 1 wraps to 1
}

// ---- pow --------------------------------------------------------------------

TEST(IntegerPow, RepeatedMultiplication) {
    EXPECT_EQ(rbf::pow(2, 0), 1);
    EXPECT_EQ(rbf::pow(0, 0), 1);
    EXPECT_EQ(rbf::pow(7, 1), 7);
    EXPECT_EQ(rbf::pow(2, 10), 1024);
    EXPECT_EQ(rbf::pow(16, 3), 4096);
    EXPECT_EQ(rbf::pow(8, 4), 4096);
    EXPECT_EQ(rbf::pow(-3, 3), -27);
    EXPECT_EQ(rbf::pow(-3, 4), 81);
    EXPECT_EQ(rbf::pow(10, 9), 1000000000);
    EXPECT_EQ(rbf::pow(0, 5), 0);
}

TEST(IntegerPow, Wraps32Bit) {
    EXPECT_EQ(rbf::pow(2, 31), INT_MIN);
    EXPECT_EQ(rbf::pow(2, 32), 0);
    EXPECT_EQ(rbf::pow(16, 8), 0);
}

// ---- UnixToOS9Time ----------------------------------------------------------

TEST_F(UnixToOS9Time, FillsYearMonthDayHourMinute) {
    use("UTC0");
    // 14:05 on 3 March 2026.
    std::time_t t = utc_seconds(2026, 3, 3, 14, 5, 0);
    ASSERT_EQ(t, static_cast<std::time_t>(1772546700));
    unsigned char out[7] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    unsigned char* r = rbf::UnixToOS9Time(t, out + 1);
    EXPECT_EQ(r, out + 1);
    EXPECT_EQ(out[0], 0xEE);
    EXPECT_EQ(out[1], 126);
    EXPECT_EQ(out[2], 3);
    EXPECT_EQ(out[3], 3);
    EXPECT_EQ(out[4], 14);
    EXPECT_EQ(out[5], 5);
    EXPECT_EQ(out[6], 0xEE);
}

TEST_F(UnixToOS9Time, DropsSeconds) {
    use("UTC0");
    unsigned char out[5] = {};
    rbf::UnixToOS9Time(utc_seconds(1999, 12, 31, 23, 59, 59), out);
    EXPECT_EQ(out[0], 99);
    EXPECT_EQ(out[1], 12);
    EXPECT_EQ(out[2], 31);
    EXPECT_EQ(out[3], 23);
    EXPECT_EQ(out[4], 59);
    rbf::UnixToOS9Time(utc_seconds(1970, 1, 1, 0, 0, 0), out);
    EXPECT_EQ(out[0], 70);
    EXPECT_EQ(out[1], 1);
    EXPECT_EQ(out[2], 1);
    EXPECT_EQ(out[3], 0);
    EXPECT_EQ(out[4], 0);
}

TEST_F(UnixToOS9Time, KeepsLow8BitsOfTheYear) {
    use("UTC0");
    unsigned char out[5] = {};
    rbf::UnixToOS9Time(utc_seconds(2160, 2, 29, 7, 30, 0), out);  // 2160 - 1900 = 260
    EXPECT_EQ(out[0], 260 & 0xFF);
    EXPECT_EQ(out[1], 2);
    EXPECT_EQ(out[2], 29);
    EXPECT_EQ(out[3], 7);
    EXPECT_EQ(out[4], 30);
}

TEST_F(UnixToOS9Time, UsesLocalTime) {
    use("EST5");  // five hours behind UTC, no summer time
    unsigned char out[5] = {};
    rbf::UnixToOS9Time(utc_seconds(2026, 3, 3, 14, 5, 0), out);
    EXPECT_EQ(out[0], 126);
    EXPECT_EQ(out[1], 3);
    EXPECT_EQ(out[2], 3);
    EXPECT_EQ(out[3], 9);
    EXPECT_EQ(out[4], 5);
    // Just after midnight UTC is still the day before.
    rbf::UnixToOS9Time(utc_seconds(2026, 1, 1, 2, 0, 0), out);
    EXPECT_EQ(out[0], 125);
    EXPECT_EQ(out[1], 12);
    EXPECT_EQ(out[2], 31);
    EXPECT_EQ(out[3], 21);
    EXPECT_EQ(out[4], 0);
}

// ---- names ------------------------------------------------------------------

TEST(OS9Name, DotDotGetsBit7OnItsLastCharacterAndBack) {
    std::string s = "..";
    std::string& r = rbf::StringToOS9Name(s);
    EXPECT_EQ(&r, &s);
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(static_cast<unsigned char>(s[0]), 0x2E);
    EXPECT_EQ(static_cast<unsigned char>(s[1]), 0xAE);
    std::string& back = rbf::OS9NameToString(s);
    EXPECT_EQ(&back, &s);
    EXPECT_EQ(s, "..");
}

TEST(OS9Name, OnlyTheLastCharacterChanges) {
    std::string s = "readme";
    rbf::StringToOS9Name(s);
    EXPECT_EQ(s.substr(0, 5), "readm");
    EXPECT_EQ(static_cast<unsigned char>(s[5]), static_cast<unsigned char>('e' | 0x80));
    std::string one = "a";
    rbf::StringToOS9Name(one);
    EXPECT_EQ(static_cast<unsigned char>(one[0]), 0xE1);
}

TEST(OS9Name, SettingTwiceOrClearingAPlainNameChangesNothingMore) {
    std::string s = "ab";
    rbf::StringToOS9Name(s);
    rbf::StringToOS9Name(s);
    EXPECT_EQ(static_cast<unsigned char>(s[1]), 0xE2);
    std::string plain = "xyz";
    rbf::OS9NameToString(plain);
    EXPECT_EQ(plain, "xyz");
}

TEST(OS9Name, EmptyNameIsLeftAlone) {
    std::string s;
    rbf::StringToOS9Name(s);
    EXPECT_TRUE(s.empty());
    rbf::OS9NameToString(s);
    EXPECT_TRUE(s.empty());
}

TEST(NameFromField, EndsAtTheCharacterWithBit7AndClearsIt) {
    unsigned char f[28] = {'t', 'o', 'o', 'l' | 0x80};
    EXPECT_EQ(rbf::NameFromField(f, 28), "tool");
    unsigned char one[28] = {'.' | 0x80};
    EXPECT_EQ(rbf::NameFromField(one, 28), ".");
}

TEST(NameFromField, IgnoresStrayBytesAfterTheBit7Character) {
    // Some disks carry a carriage return and leftovers after the name.
    unsigned char f[28] = {'a', 'b' | 0x80, 0x0D, 'x', 'y', 'z'};
    EXPECT_EQ(rbf::NameFromField(f, 28), "ab");
}

TEST(NameFromField, EndsAtAZeroByte) {
    unsigned char f[28] = {'a', 'b', 0, 'c', 'd' | 0x80};
    EXPECT_EQ(rbf::NameFromField(f, 28), "ab");
    unsigned char empty[28] = {0, 'x' | 0x80};
    EXPECT_EQ(rbf::NameFromField(empty, 28), "");
}

TEST(NameFromField, EndsAtTheEndOfTheField) {
    // 28 letters without bit 7 and without a zero; what follows the field
    // (here more letters) is not part of the name.
    unsigned char f[40];
    for (int i = 0; i < 40; ++i) f[i] = static_cast<unsigned char>('A' + i % 26);
    std::string expect;
    for (int i = 0; i < 28; ++i) expect.push_back(static_cast<char>('A' + i % 26));
    EXPECT_EQ(rbf::NameFromField(f, 28), expect);
    // A 28-character name whose last character carries bit 7.
    f[27] |= 0x80;
    EXPECT_EQ(rbf::NameFromField(f, 28), expect);
    // The disk name field is 32 bytes wide.
    f[27] &= 0x7F;
    std::string expect32;
    for (int i = 0; i < 32; ++i) expect32.push_back(static_cast<char>('A' + i % 26));
    EXPECT_EQ(rbf::NameFromField(f, 32), expect32);
}

TEST(NameFromField, ZeroWidthIsEmpty) {
    unsigned char f[4] = {'a' | 0x80};
    EXPECT_EQ(rbf::NameFromField(f, 0), "");
}

TEST(NameEquals, IgnoresTheCaseOfAsciiLettersOnly) {
    EXPECT_TRUE(rbf::NameEquals("DIR", "dir"));
    EXPECT_TRUE(rbf::NameEquals("ReadMe.txt", "rEADmE.TXT"));
    EXPECT_TRUE(rbf::NameEquals("", ""));
    EXPECT_TRUE(rbf::NameEquals("a_1.Z", "A_1.z"));
    EXPECT_FALSE(rbf::NameEquals("a", "b"));
    EXPECT_FALSE(rbf::NameEquals("abc", "abcd"));
    EXPECT_FALSE(rbf::NameEquals("abcd", "abc"));
    EXPECT_FALSE(rbf::NameEquals("", "a"));
    // Characters 32 apart that are not letters stay different.
    EXPECT_FALSE(rbf::NameEquals("@", "`"));
    EXPECT_FALSE(rbf::NameEquals("[", "{"));
    EXPECT_FALSE(rbf::NameEquals("^", "~"));
    EXPECT_FALSE(rbf::NameEquals("_", "\x7f"));
}

// ---- show_help ----------------------------------------------------------------

TEST(ShowHelp, WritesEachLineToStandardErrorAndNothingElse) {
    const char* const help[] = {"Usage: prog [opts] disk\n", "Options:\n", "   -x  something\n", "", "tail", nullptr,
                                "after the end\n"};
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    rbf::show_help(help);
    std::string err = testing::internal::GetCapturedStderr();
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(err, "Usage: prog [opts] disk\nOptions:\n   -x  something\ntail");
    EXPECT_EQ(out, "");
}

TEST(ShowHelp, EmptyArrayWritesNothing) {
    const char* const help[] = {nullptr};
    testing::internal::CaptureStderr();
    rbf::show_help(help);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}
