#include "reply_format.h"
#include "time_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>

namespace {

// Fix times past 2038 only where time_t has 64 bits; a 32-bit time_t (armhf) cannot
// hold them, and they leave the time fields as they were.
constexpr bool kWideTime = sizeof(std::time_t) == 8;
const double kFixTime = static_cast<double>(s64_Utc(2014, 3, 5, 12, 34, 56)) + 0.9;

class ReplyFormat : public testing::Test {
  protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
    }
    // The twelve reply texts joined by '|'; status and warning come from the state.
    std::string t_Reply(const T_GpsState& t_State) {
        v_Reply_Refresh(&t_Texts, t_State);
        std::string t_Out = t_State.acn_Status;
        for (const char* pc_Text : std::initializer_list<const char*>{
                 t_Texts.acn_Latitude, t_Texts.acn_Longitude, t_Texts.acn_Altitude,
                 t_Texts.acn_Time, t_Texts.acn_Satellites, t_Texts.acn_Quality, +t_State.acn_Warn,
                 t_Texts.acn_Speed, t_Texts.acn_Course, t_Texts.acn_Date, t_Texts.acn_UTC}) {
            t_Out += std::string("|") + pc_Text;
        }
        return t_Out;
    }
    // Time, date and UTC of the reply: its fields 4, 10 and 11.
    std::string t_TimeFields(const T_GpsState& t_State) {
        const std::string t_Reply = this->t_Reply(t_State);
        const std::size_t u32_Time = t_Reply.find('|', t_Reply.find("|522|") + 1) + 1;
        const std::size_t u32_Date = t_Reply.rfind('|', t_Reply.rfind('|') - 1) + 1;
        return t_Reply.substr(u32_Time, 7) + t_Reply.substr(u32_Date);
    }
    // valid, status, lat, lon, alt, time, satellites, warn, speed, course, quality, fix type
    static T_GpsState t_Fix(double f64_Time) {
        return {1, "NMEA", 48.1234567, 11.5, 521.6, f64_Time, 7, "A", 36.0, 90.5, "1", 2};
    }
    T_ReplyTexts t_Texts{};
};

TEST_F(ReplyFormat, FieldsKeepTheirLastUsableText) {
    const std::pair<T_GpsState, const char*> at_Steps[] = {
        {T_GpsState{}, "|0.000000|0.000000||000000|0|||0.00000|0.00000|010170|010100002070"},
        {{1, "NMEA", 1.0, 2.0, 3.0, 0.0, 9, "A", 4.0, 5.0, "1", 1}, // 2D: no altitude yet
         "NMEA|1.000000|2.000000||000000|9|1|A|4.00000|5.00000|010170|010100002070"},
        {t_Fix(kFixTime),
         "NMEA|48.123457|11.500000|522|123456|7|1|A|36.00000|90.50000|050314|030512342014"},
        {{0, "NONE", NAN, -NAN, NAN, NAN, 7, "V", NAN, -NAN, "0", 2}, // "-nan" is no "nan"
         "NONE|48.123457|-nan|522|123456|7|0|V|36.00000|90.50000|050314|030512342014"},
        {{1, "NMEA", 1.0, 2.0, 9999.0, kFixTime, 7, "A", 36.0, 90.5, "1", 1},
         "NMEA|1.000000|2.000000|522|123456|7|1|A|36.00000|90.50000|050314|030512342014"},
        // texts that do not fit: speed of 12 characters, altitude of 16 digits
        {{1, "NMEA", 1.0, 2.0, 1e15, INFINITY, 7, "A", 100000.0, -INFINITY, "1", 2},
         "NMEA|1.000000|2.000000|522|123456|7|1|A|36.00000|-inf|050314|030512342014"},
        {{1, "NMEA", 1.0, 2.0, 999999999999999.0, kFixTime, 7, "A", 99999.99999, 1.0, "1", 2},
         "NMEA|1.000000|2.000000|999999999999999|123456|7|1|A|99999.99999|1.00000|050314|"
         "030512342014"},
    };
    for (const auto& [t_State, pc_Expected] : at_Steps) {
        EXPECT_EQ(pc_Expected, t_Reply(t_State));
    }
}

TEST_F(ReplyFormat, YearRuleForTheUtcField) {
    const std::pair<std::int64_t, const char*> at_Cases[] = {
        // time|date|UTC
        {s64_Utc(2006, 12, 31, 23, 59, 59), "235959|311206|0"},
        {s64_Utc(2007, 1, 1, 0, 0, 0), "000000|010107|010100002007"},
        {s64_Utc(1999, 6, 7, 8, 9, 10), "080910|070699|060708092099"},
        {s64_Utc(2038, 1, 19, 3, 14, 8),
         kWideTime ? "031408|190138|011903142038" : "080910|070699|060708092099"},
        {s64_Utc(2100, 2, 3, 4, 5, 6),
         kWideTime ? "040506|030200|0" : "080910|070699|060708092099"},
    };
    for (const auto& [s64_Time, pc_Fields] : at_Cases) {
        EXPECT_EQ(pc_Fields, t_TimeFields(t_Fix(static_cast<double>(s64_Time))));
    }
    setenv("TZ", "IST-5:30", 1); // UTC+05:30 as a POSIX rule, no tzdata needed
    tzset();
    EXPECT_EQ("013000|010127|010101302027",
              t_TimeFields(t_Fix(static_cast<double>(s64_Utc(2026, 12, 31, 20, 0, 0)))));
}

} // namespace
