#include "clock_text.h"
#include "time_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <string>

namespace {

double f64_Local(int s32_Year, int s32_Mon, int s32_Day, int s32_H, int s32_M, int s32_S) {
    std::tm t_Local = t_Tm(s32_Year, s32_Mon, s32_Day, s32_H, s32_M, s32_S);
    return static_cast<double>(std::mktime(&t_Local));
}

struct Zone {
    explicit Zone(const char* pc_Tz) {
        setenv("TZ", pc_Tz, 1);
        tzset();
    }
};

TEST(ClockText, DateTextAndGateAcrossZones) {
    struct Case {
        const char* pc_Tz;
        int as32_Local[6];
        ClockGate e_Gate;
        const char* pc_Text;
    } const at_Cases[] = {
        {"UTC", {2014, 3, 5, 12, 34, 56}, ClockGate::Go, "201403051234.56"},
        {"UTC", {2009, 12, 31, 23, 0, 0}, ClockGate::YearBefore2010, "200912312300.00"},
        {"UTC", {2010, 1, 1, 0, 0, 0}, ClockGate::Go, "201001010000.00"},
        {"CET-1CEST,M3.5.0,M10.5.0/3",
         {2009, 12, 31, 23, 59, 59},
         ClockGate::YearBefore2010,
         "200912312359.59"},
        {"CET-1CEST,M3.5.0,M10.5.0/3", {2026, 7, 1, 0, 30, 0}, ClockGate::Go, "202607010030.00"},
        {"EST5", {2010, 1, 1, 0, 0, 1}, ClockGate::Go, "201001010000.01"},
    };
    for (const Case& t_Case : at_Cases) {
        Zone t_Zone(t_Case.pc_Tz);
        const int* a = t_Case.as32_Local;
        char acn_Text[XLOCD_DATE_TEXT_SIZE];
        EXPECT_EQ(t_Case.e_Gate,
                  e_Clock_DateText(f64_Local(a[0], a[1], a[2], a[3], a[4], a[5]) + 0.75, acn_Text))
            << t_Case.pc_Text;
        EXPECT_STREQ(t_Case.pc_Text, acn_Text);
    }
}

TEST(ClockText, UnusableFixTimesWaitForTheNextPass) {
    Zone t_Zone("UTC");
    char acn_Text[XLOCD_DATE_TEXT_SIZE];
    EXPECT_EQ(ClockGate::ZeroTime, e_Clock_DateText(0.5, acn_Text));
    EXPECT_EQ(ClockGate::ZeroTime, e_Clock_DateText(8589934592.0, acn_Text)); // 2^33 as u32 is 0
    EXPECT_EQ(ClockGate::Unusable, e_Clock_DateText(NAN, acn_Text));
    EXPECT_EQ(ClockGate::Unusable, e_Clock_DateText(1e300, acn_Text));
    // 2038-01-19 03:14:08 UTC: one second past what a 32-bit time_t (armhf) holds.
    const bool b_WideTime = sizeof(std::time_t) == 8;
    EXPECT_EQ(b_WideTime ? ClockGate::Go : ClockGate::Unusable,
              e_Clock_DateText(2147483648.0, acn_Text));
    EXPECT_STREQ(b_WideTime ? "203801190314.08" : "", acn_Text);
}

TEST(ClockText, RtcRecordFromTheDateText) {
    const rtc_time t_Rtc = t_Clock_RtcRecord("201403051234.56");
    EXPECT_EQ(56, t_Rtc.tm_sec);
    EXPECT_EQ(34, t_Rtc.tm_min);
    EXPECT_EQ(12, t_Rtc.tm_hour);
    EXPECT_EQ(5, t_Rtc.tm_mday);
    EXPECT_EQ(2, t_Rtc.tm_mon);
    EXPECT_EQ(114, t_Rtc.tm_year);
    EXPECT_EQ(0, t_Rtc.tm_wday);
    EXPECT_EQ(0, t_Rtc.tm_yday);
    EXPECT_EQ(0, t_Rtc.tm_isdst);
}

} // namespace
