#include "reply_format.h"
#include "time_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

class ReplyFormat : public testing::Test {
  protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
    }
    // The twelve reply texts, status and warning straight from the state.
    std::vector<std::string> t_Reply(const T_GpsState& t_State) {
        v_Reply_Refresh(&t_Texts, t_State);
        return {t_State.acn_Status,   t_Texts.acn_Latitude, t_Texts.acn_Longitude,
                t_Texts.acn_Altitude, t_Texts.acn_Time,     t_Texts.acn_Satellites,
                t_Texts.acn_Quality,  t_State.acn_Warn,     t_Texts.acn_Speed,
                t_Texts.acn_Course,   t_Texts.acn_Date,     t_Texts.acn_UTC};
    }
    static T_GpsState t_Fix(double f64_Time) {
        T_GpsState t_S{1, "NMEA", 48.1234567, 11.5, 521.6, f64_Time, 7, "A", 36.0, 90.5, "1", 2};
        return t_S;
    }
    T_ReplyTexts t_Texts{};
};

TEST_F(ReplyFormat, BeforeAnyReport) {
    const std::vector<std::string> t_Expected = {"",        "0.000000", "0.000000", "",
                                                 "000000",  "0",        "",         "",
                                                 "0.00000", "0.00000",  "010170",   "010100002070"};
    EXPECT_EQ(t_Expected, t_Reply(T_GpsState{}));
}

TEST_F(ReplyFormat, ThreeDimensionalFix) {
    const std::vector<std::string> t_Expected = {
        "NMEA", "48.123457", "11.500000", "522",      "123456", "7",
        "1",    "A",         "36.00000",  "90.50000", "050314", "030512342014"};
    EXPECT_EQ(t_Expected,
              t_Reply(t_Fix(static_cast<double>(s64_Utc(2014, 3, 5, 12, 34, 56)) + 0.9)));
}

// Past 2038 only where time_t has 64 bits; a 32-bit time_t (armhf) cannot hold
// those fix times, and they leave the fields as the previous case set them.
constexpr bool kWideTime = sizeof(std::time_t) == 8;

TEST_F(ReplyFormat, YearRuleForTheUtcField) {
    struct Case {
        std::int64_t s64_Time;
        const char* pc_Date;
        const char* pc_Utc;
    } const at_Cases[] = {
        {s64_Utc(2006, 12, 31, 23, 59, 59), "311206", "0"},
        {s64_Utc(2007, 1, 1, 0, 0, 0), "010107", "010100002007"},
        {s64_Utc(1999, 6, 7, 8, 9, 10), "070699", "060708092099"},
        {s64_Utc(2038, 1, 19, 3, 14, 8), kWideTime ? "190138" : "070699",
         kWideTime ? "011903142038" : "060708092099"},
        {s64_Utc(2100, 2, 3, 4, 5, 6), kWideTime ? "030200" : "070699",
         kWideTime ? "0" : "060708092099"},
    };
    for (const Case& t_Case : at_Cases) {
        const std::vector<std::string> t_R = t_Reply(t_Fix(static_cast<double>(t_Case.s64_Time)));
        EXPECT_EQ(t_Case.pc_Date, t_R[10]);
        EXPECT_EQ(t_Case.pc_Utc, t_R[11]);
    }
}

TEST_F(ReplyFormat, UnusableValuesRepeatTheEarlierText) {
    t_Reply(t_Fix(static_cast<double>(s64_Utc(2026, 11, 30, 10, 0, 0))));
    T_GpsState t_Bad = t_Fix(NAN);
    t_Bad.f64_Latitude = NAN;
    t_Bad.f64_Speed = NAN;
    t_Bad.f64_Course = NAN;
    t_Bad.f64_Altitude = NAN;
    t_Bad.f64_Longitude = -NAN; // "-nan" is not the unusable text
    const std::vector<std::string> t_R = t_Reply(t_Bad);
    EXPECT_EQ("48.123457", t_R[1]);
    EXPECT_EQ("-nan", t_R[2]);
    EXPECT_EQ("522", t_R[3]);
    EXPECT_EQ("100000", t_R[4]);
    EXPECT_EQ("36.00000", t_R[8]);
    EXPECT_EQ("90.50000", t_R[9]);
    EXPECT_EQ("301126", t_R[10]);
}

TEST_F(ReplyFormat, AltitudeOnlyFromThreeDimensionalFixes) {
    T_GpsState t_2D = t_Fix(0);
    t_2D.u8_FixType = 1;
    EXPECT_EQ("", t_Reply(t_2D)[3]);
    t_Reply(t_Fix(0));
    t_2D.f64_Altitude = 9999.0;
    EXPECT_EQ("522", t_Reply(t_2D)[3]);
}

TEST_F(ReplyFormat, TextsThatDoNotFitKeepTheEarlierText) {
    t_Reply(t_Fix(0));
    T_GpsState t_Huge = t_Fix(0);
    t_Huge.f64_Speed = 100000.0; // "100000.00000" is 12 characters
    t_Huge.f64_Altitude = 1e15;  // 16 digits
    t_Huge.f64_Course = -INFINITY;
    t_Huge.f64_Time = INFINITY;
    const std::vector<std::string> t_R = t_Reply(t_Huge);
    EXPECT_EQ("36.00000", t_R[8]);
    EXPECT_EQ("522", t_R[3]);
    EXPECT_EQ("-inf", t_R[9]);
    EXPECT_EQ("000000", t_R[4]);
    t_Huge.f64_Speed = 99999.99999;
    t_Huge.f64_Altitude = 999999999999999.0;
    EXPECT_EQ("99999.99999", t_Reply(t_Huge)[8]);
    EXPECT_EQ("999999999999999", t_Reply(t_Huge)[3]);
}

TEST_F(ReplyFormat, TimeFieldsFollowTheLocalZone) {
    setenv("TZ", "IST-5:30", 1); // UTC+05:30 as a POSIX rule, no tzdata needed
    tzset();
    const std::vector<std::string> t_R =
        t_Reply(t_Fix(static_cast<double>(s64_Utc(2026, 12, 31, 20, 0, 0))));
    EXPECT_EQ("013000", t_R[4]);
    EXPECT_EQ("010127", t_R[10]);
    EXPECT_EQ("010101302027", t_R[11]);
}

} // namespace
