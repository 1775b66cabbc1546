#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "core/format.h"

TEST(FormatThousands, GroupsDigits) {
    for (auto [v, text] : std::vector<std::pair<int32_t, std::string>>{{0, "0"},
                                                                       {999, "999"},
                                                                       {1000, "1,000"},
                                                                       {1000000, "1,000,000"},
                                                                       {1002003, "1,002,003"},
                                                                       {2147483647, "2,147,483,647"},
                                                                       {-1234, "-1,234"},
                                                                       {INT32_MIN, "-2,147,483,648"}})
        EXPECT_EQ(FormatThousands(v), text);
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
    // A rate below 1 counts as 1; frames past the tables of a second are written as decimal digits,
    // clamped to 99.
    EXPECT_EQ(
        (std::vector{Hmsf(1, 2, 3, 4), Timecode(95, 15), Timecode(95, 66666), Timecode(-95, 15),
                     Timecode(5, 0), Hmsf(10000, 0, 0, 0), Hmsf(-10, 0, 0, 0),
                     Hmsf(1005, 0, 0, 0).substr(0, 5), Hmsf(123, 0, 0, 0).substr(0, 4), Hmsf(0, 0, 0, 75),
                     Hmsf(0, 0, 0, 250), Timecode(119, 120), Timecode(INT32_MAX, 1)}),
        (std::vector<std::string>{"01h02m03s04", "00h00m06s05", "00h00m06s05", "-0h00m06s05", "00h00m05s00",
                                  "*", "-*", "1005h", "123h", "00h00m00s75", "00h00m00s99", "00h00m00s99",
                                  "*"}));
}

TEST(FormatTime, MinutesAndSeconds) {
    char b[32];
    std::vector<std::string> got;
    for (int32_t m : {59, 61, 1500}) got.push_back(FormatMinutes(b, m));
    for (int32_t s : {45, 125, 3600, 90000}) got.push_back(FormatSeconds(b, s));
    EXPECT_EQ(got, (std::vector<std::string>{"59minutes", "1h01m", "1d01h00m", "45secs", "2m5s", "1h00m",
                                             "1d01h00m"}));
}
