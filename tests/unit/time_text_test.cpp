// The texts made from a fix: GetGPSData's twelve, the clock's date text and its guard.
#include "bus/reply_texts.h"
#include "clock/clock_guard.h"
#include "clock/fix_time.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

namespace {

// Seconds since 1970 of a UTC date before 2038, which every time_t holds.
double f64_Utc(int s32_Y, int s32_Mon, int s32_Day, int s32_H, int s32_M, int s32_S) {
    std::tm t_Tm{s32_S, s32_M, s32_H, s32_Day, s32_Mon - 1, s32_Y - 1900};
    return static_cast<double>(timegm(&t_Tm));
}
constexpr bool kWideTime = sizeof(std::time_t) == 8; // 32 bits (Debian 12 armhf): 2038
const double kFixTime = f64_Utc(2014, 3, 5, 12, 34, 56) + 0.9;

void v_Zone(const char* pc_Tz) {
    setenv("TZ", pc_Tz, 1);
    tzset();
}

// valid, status, lat, lon, alt, time, satellites, warn, speed, course, quality, fix type
T_GpsState t_Fix(double f64_Time) {
    return {1, "NMEA", 48.1234567, 11.5, 521.6, f64_Time, 7, "A", 36.0, 90.5, "1", 2};
}

// The reply texts kept from state to state, as the daemon keeps them; status and warning
// come from the state itself. Returns the fields asked for, joined by '|'.
struct Reply {
    T_ReplyTexts t_T{};
    std::string t_Fields(const T_GpsState& t_S, std::initializer_list<int> as32_Which) {
        const T_ReplyRow t_Row = t_Reply_Row(&t_T, t_S);
        std::string t_Out;
        for (const int s32_F : as32_Which) {
            t_Out += (s32_F == *as32_Which.begin() ? "" : "|") +
                     std::string(t_Row[static_cast<std::size_t>(s32_F)].data());
        }
        return t_Out;
    }
};

TEST(ReplyFormat, FieldsKeepTheirLastUsableText) {
    v_Zone("UTC");
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
         "030512342014"}};
    Reply t_Reply;
    for (const auto& [t_State, pc_Expected] : at_Steps) {
        EXPECT_EQ(pc_Expected, t_Reply.t_Fields(t_State, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
    }
}

TEST(ReplyFormat, YearRuleForTheUtcField) {
    v_Zone("UTC");
    const char* pc_Kept = "080910|070699|060708092099"; // where time_t cannot hold the time
    const std::pair<double, const char*> at_Cases[] = {
        // time|date|UTC
        {f64_Utc(2006, 12, 31, 23, 59, 59), "235959|311206|0"},
        {f64_Utc(2007, 1, 1, 0, 0, 0), "000000|010107|010100002007"},
        {f64_Utc(1999, 6, 7, 8, 9, 10), "080910|070699|060708092099"},
        {2147483648.0 /* 2038-01-19 03:14:08 */,
         kWideTime ? "031408|190138|011903142038" : pc_Kept},
        {4105310706.0 /* 2100-02-03 04:05:06 */, kWideTime ? "040506|030200|0" : pc_Kept}};
    Reply t_Reply;
    for (const auto& [f64_Time, pc_Fields] : at_Cases) {
        EXPECT_EQ(pc_Fields, t_Reply.t_Fields(t_Fix(f64_Time), {4, 10, 11}));
    }
}

TEST(ClockText, DateTextAndGateInTheLocalZone) {
    const char* pc_Cet = "CET-1CEST,M3.5.0,M10.5.0/3";
    const std::tuple<const char*, double, ClockGate, const char*> at_Cases[] = {
        {"UTC", f64_Utc(2014, 3, 5, 12, 34, 56) + 0.75, ClockGate::Go, "201403051234.56"},
        {"UTC", f64_Utc(2009, 12, 31, 23, 0, 0), ClockGate::YearBefore2010, "200912312300.00"},
        {"UTC", f64_Utc(2010, 1, 1, 0, 0, 0), ClockGate::Go, "201001010000.00"},
        {pc_Cet, f64_Utc(2026, 6, 30, 22, 30, 0), ClockGate::Go, "202607010030.00"},
        {"UTC", 0.5, ClockGate::ZeroTime, "207001010000.00"},
        {"UTC", NAN, ClockGate::Unusable, ""},
        {"UTC", 1e300, ClockGate::Unusable, ""},
        {"UTC", 2147483648.0, kWideTime ? ClockGate::Go : ClockGate::Unusable,
         kWideTime ? "203801190314.08" : ""},
        {"UTC", 8589934592.0, kWideTime ? ClockGate::ZeroTime : ClockGate::Unusable, // 2^33
         kWideTime ? "204203161256.32" : ""}};
    for (const auto& [pc_Tz, f64_Time, e_Gate, pc_Text] : at_Cases) {
        v_Zone(pc_Tz);
        char acn_Text[XLOCD_DATE_TEXT_SIZE];
        EXPECT_EQ(e_Gate, e_Clock_DateText(f64_Time, acn_Text)) << pc_Text;
        EXPECT_STREQ(pc_Text, acn_Text);
    }
}

TEST(ClockGuard, TheDateKeepsEarlierTimesOutWhateverTheRun) {
    const std::int64_t s64_Date = 1767225600;                                   // 2026-01-01
    EXPECT_EQ(ClockRefusal::None, e_ClockGuard_Check({1, 0}, 0, 0, 315964801)); // keys absent
    EXPECT_EQ(ClockRefusal::TooFewFixes, e_ClockGuard_Check({2, 0}, 3, s64_Date, 1796515200));
    EXPECT_EQ(ClockRefusal::None, e_ClockGuard_Check({3, 0}, 3, s64_Date, s64_Date));
    EXPECT_EQ(ClockRefusal::BeforeDate, e_ClockGuard_Check({3, 0}, 3, s64_Date, s64_Date - 1.0));
    EXPECT_EQ(ClockRefusal::BeforeDate, e_ClockGuard_Check({3, 0}, 0, s64_Date, NAN));
}

// Three fixes a second apart, an epoch reported again and reports of other kinds are
// shown end to end on a real receiver (test_min_fixes_sets_the_clock_from_a_real_receiver).
// A case is the position reports in order: a fix's time (NAN: a fix without one) or kMiss.
TEST(ClockGuard, ARunEndsAtAGapAStepBackATimelessFixOrAMiss) {
    constexpr double t = 1796515200.0, kMiss = -1.0; // 2026-12-06
    constexpr ClockRefusal kGo = ClockRefusal::None, kShort = ClockRefusal::TooFewFixes;
    const std::tuple<const char*, std::vector<double>, ClockRefusal> at_Cases[] = {
        {"three fixes", {t, t + 1, t + 2}, kGo},
        {"two fixes", {t, t + 1}, kShort},
        {"a gap over two seconds starts anew", {t, t + 1, t + 3.5}, kShort},
        {"a step back starts anew", {t + 1, t + 2, t}, kShort},
        {"a fix without a time breaks the run", {t, t + 1, NAN, t + 2}, kShort},
        {"a position report without a fix breaks it", {t, t + 1, kMiss, t + 2, t + 3}, kShort}};
    for (const auto& [pc_What, af64_Reports, e_After] : at_Cases) {
        T_ClockGuard t_Guard{};
        for (const double f64_Report : af64_Reports) {
            v_ClockGuard_Fold(&t_Guard, true, f64_Report != kMiss, f64_Report);
        }
        EXPECT_EQ(e_After, e_ClockGuard_Check(t_Guard, 3, 0, af64_Reports.back())) << pc_What;
    }
}

} // namespace
