// Fix times as text: the broken-down local time, the clock's date text and the RTC
// record, apart from their effects.
#pragma once

#include <linux/rtc.h>

#include <cstddef>
#include <cstdint>
#include <ctime>

// A broken-down field printed with two digits; valid tm fields are 0..99 already.
constexpr unsigned u32_Field(int s32_Value) {
    return static_cast<unsigned>(s32_Value) % 100u;
}
// Year modulo 100, also for years before 1900.
constexpr unsigned u32_TwoDigitYear(const std::tm& t_Tm) {
    return static_cast<unsigned>(((static_cast<long>(t_Tm.tm_year) + 1900) % 100 + 100) % 100);
}

constexpr std::size_t XLOCD_DATE_TEXT_SIZE = 16; // "20YYMMDDhhmm.ss"

// The fix time truncated to whole seconds, when time_t can hold it (32 bits on
// Debian 12's armhf, where converting a larger double would be undefined).
bool b_Clock_FixSeconds(double f64_FixTime, std::time_t* pt_Seconds);

// The fix time broken down in the local zone with `localtime`, which follows a
// changed /etc/localtime at once (localtime_r keeps the zone it read first).
bool b_Clock_LocalTime(double f64_FixTime, std::tm* pt_Tm);

enum class ClockGate {
    Go,
    YearBefore2010, // two-digit year 9 or less: try again on the next pass
    ZeroTime,       // fix time 0 as an unsigned 32-bit count: try again
    Unusable,       // a fix time localtime cannot break down: try again
};

// Builds "20YYMMDDhhmm.ss" from the fix time in the local time zone, and says
// whether a sync may go ahead with it.
ClockGate e_Clock_DateText(double f64_FixTime, char (&acn_Text)[XLOCD_DATE_TEXT_SIZE]);

// The RTC record for a date text: month 0..11, years since 1900, the rest 0.
rtc_time t_Clock_RtcRecord(const char (&acn_Text)[XLOCD_DATE_TEXT_SIZE]);
