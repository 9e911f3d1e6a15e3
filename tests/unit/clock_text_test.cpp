#include "clock_text.h"
#include "time_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <tuple>

namespace {

void v_Zone(const char* pc_Tz) {
    setenv("TZ", pc_Tz, 1);
    tzset();
}

TEST(ClockText, DateTextAndGateInTheLocalZone) {
    const bool b_WideTime = sizeof(std::time_t) == 8; // a 32-bit time_t (armhf) ends in 2038
    const char* pc_Cet = "CET-1CEST,M3.5.0,M10.5.0/3";
    const std::tuple<const char*, double, ClockGate, const char*> at_Cases[] = {
        {"UTC", s64_Utc(2014, 3, 5, 12, 34, 56) + 0.75, ClockGate::Go, "201403051234.56"},
        {"UTC", s64_Utc(2009, 12, 31, 23, 0, 0), ClockGate::YearBefore2010, "200912312300.00"},
        {"UTC", s64_Utc(2010, 1, 1, 0, 0, 0), ClockGate::Go, "201001010000.00"},
        {pc_Cet, s64_Utc(2009, 12, 31, 22, 59, 59), ClockGate::YearBefore2010, "200912312359.59"},
        {pc_Cet, s64_Utc(2026, 6, 30, 22, 30, 0), ClockGate::Go, "202607010030.00"},
        {"EST5", s64_Utc(2010, 1, 1, 5, 0, 1), ClockGate::Go, "201001010000.01"},
        {"UTC", 0.5, ClockGate::ZeroTime, "207001010000.00"},
        {"UTC", NAN, ClockGate::Unusable, ""},
        {"UTC", 1e300, ClockGate::Unusable, ""},
        {"UTC", 2147483648.0, b_WideTime ? ClockGate::Go : ClockGate::Unusable,
         b_WideTime ? "203801190314.08" : ""},
        {"UTC", 8589934592.0, b_WideTime ? ClockGate::ZeroTime : ClockGate::Unusable, // 2^33
         b_WideTime ? "204203161256.32" : ""},
    };
    for (const auto& [pc_Tz, f64_Time, e_Gate, pc_Text] : at_Cases) {
        v_Zone(pc_Tz);
        char acn_Text[XLOCD_DATE_TEXT_SIZE];
        EXPECT_EQ(e_Gate, e_Clock_DateText(f64_Time, acn_Text)) << pc_Text;
        EXPECT_STREQ(pc_Text, acn_Text);
    }
}

TEST(ClockGuard, RunsOfAdvancingFixesAndTheDate) {
    T_ClockGuard t_Guard{};
    const std::tuple<bool, double, int> at_Steps[] = {
        {true, 315964801, 1},  {true, 315964802, 2},  {true, 1177200000, 1}, // a jump
        {true, 1177200000, 2}, {true, 1177200002, 3}, {true, 1177199999, 1}, // back
        {false, NAN, 0},       {true, NAN, 0},        {true, 1796515200, 1}};
    for (const auto& [b_Fix, f64_Time, s32_Streak] : at_Steps) {
        v_ClockGuard_Fold(&t_Guard, b_Fix, f64_Time);
        EXPECT_EQ(s32_Streak, t_Guard.s32_Streak) << f64_Time;
    }
    const std::int64_t s64_Date = 1767225600;                                   // 2026-01-01
    EXPECT_EQ(ClockRefusal::None, e_ClockGuard_Check({1, 0}, 0, 0, 315964801)); // keys absent
    EXPECT_EQ(ClockRefusal::TooFewFixes, e_ClockGuard_Check({2, 0}, 3, s64_Date, 1796515200));
    EXPECT_EQ(ClockRefusal::None, e_ClockGuard_Check({3, 0}, 3, s64_Date, s64_Date));
    EXPECT_EQ(ClockRefusal::BeforeDate, e_ClockGuard_Check({3, 0}, 3, s64_Date, s64_Date - 1.0));
    EXPECT_EQ(ClockRefusal::BeforeDate, e_ClockGuard_Check({3, 0}, 0, s64_Date, NAN));
}

} // namespace
