#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "core/format.h"

TEST(FormatThousands, GroupsDigits) {
    EXPECT_STREQ(FormatThousands(0), "0");
    EXPECT_STREQ(FormatThousands(999), "999");
    EXPECT_STREQ(FormatThousands(1000), "1,000");
    EXPECT_STREQ(FormatThousands(1000000), "1,000,000");
    EXPECT_STREQ(FormatThousands(1002003), "1,002,003");
    EXPECT_STREQ(FormatThousands(2147483647), "2,147,483,647");
    EXPECT_STREQ(FormatThousands(-1234), "-1,234");
    EXPECT_STREQ(FormatThousands(INT32_MIN), "-2,147,483,648");
}

static std::string Timecode(int32_t v, int32_t r) {
    char b[32];
    FormatTimecode(b, v, r);
    return b;
}

static std::string Hmsf(int32_t h, int32_t m, int32_t s, int32_t f) {
    char b[32];
    FormatHMSF(h, m, s, f, b);
    return b;
}

TEST(FormatTime, TimecodesAndHours) {
    EXPECT_EQ(Hmsf(1, 2, 3, 4), "01h02m03s04");
    EXPECT_EQ(Timecode(95, 15), "00h00m06s05");
    EXPECT_EQ(Timecode(95, 66666), "00h00m06s05");
    EXPECT_EQ(Timecode(-95, 15), "-0h00m06s05");
    EXPECT_EQ(Timecode(5, 0), "00h00m05s00");  // rate below 1 counts as 1
    EXPECT_EQ(Hmsf(10000, 0, 0, 0), "*");
    EXPECT_EQ(Hmsf(-10, 0, 0, 0), "-*");
    EXPECT_EQ(Hmsf(1005, 0, 0, 0).substr(0, 5), "1005h");
    EXPECT_EQ(Hmsf(123, 0, 0, 0).substr(0, 4), "123h");
    // Frames past the tables of a second are written as decimal digits, clamped to 99.
    EXPECT_EQ(Hmsf(0, 0, 0, 75), "00h00m00s75");
    EXPECT_EQ(Hmsf(0, 0, 0, 250), "00h00m00s99");
    EXPECT_EQ(Timecode(119, 120), "00h00m00s99");
    EXPECT_EQ(Timecode(INT32_MAX, 1), "*");
}

TEST(FormatTime, MinutesAndSeconds) {
    char b[32];
    EXPECT_STREQ(FormatMinutes(b, 59), "59minutes");
    EXPECT_STREQ(FormatMinutes(b, 61), "1h01m");
    EXPECT_STREQ(FormatMinutes(b, 1500), "1d01h00m");
    EXPECT_STREQ(FormatSeconds(b, 45), "45secs");
    EXPECT_STREQ(FormatSeconds(b, 125), "2m5s");
    EXPECT_STREQ(FormatSeconds(b, 3600), "1h00m");
    EXPECT_STREQ(FormatSeconds(b, 90000), "1d01h00m");
}
