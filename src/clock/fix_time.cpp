#include "clock/fix_time.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <limits>

namespace {

int ms32_TwoDigits(const char* pc_Text) {
    return (pc_Text[0] - '0') * 10 + (pc_Text[1] - '0');
}

} // namespace

bool b_Clock_FixSeconds(double f64_FixTime, std::time_t* pt_Seconds) {
    using Limits = std::numeric_limits<std::time_t>;
    // Truncation keeps the value when it lies strictly between min - 1 and max + 1.
    // Exact for 32 bits; for 64 the bounds round to -2^63 and 2^63. NaN fails both.
    constexpr double kBelow = static_cast<double>(Limits::min()) - 1.0;
    constexpr double kAbove = static_cast<double>(Limits::max()) + 1.0;
    if (!(f64_FixTime > kBelow && f64_FixTime < kAbove)) {
        return false;
    }
    *pt_Seconds = static_cast<std::time_t>(f64_FixTime);
    return true;
}

bool b_Clock_LocalTime(double f64_FixTime, std::tm* pt_Tm) {
    std::time_t t_Seconds = 0;
    const std::tm* pt_Local = nullptr;
    if (b_Clock_FixSeconds(f64_FixTime, &t_Seconds)) {
        pt_Local = std::localtime(&t_Seconds); // single-threaded: the shared result is ours
    }
    if (pt_Local == nullptr) {
        return false;
    }
    *pt_Tm = *pt_Local;
    return true;
}

ClockGate e_Clock_DateText(double f64_FixTime, char (&acn_Text)[XLOCD_DATE_TEXT_SIZE]) {
    acn_Text[0] = '\0';
    std::tm t_Tm{};
    std::time_t t_Seconds = 0;
    if (!b_Clock_LocalTime(f64_FixTime, &t_Tm) || !b_Clock_FixSeconds(f64_FixTime, &t_Seconds)) {
        return ClockGate::Unusable;
    }
    const unsigned u32_Year2 = u32_TwoDigitYear(t_Tm);
    std::snprintf(acn_Text, XLOCD_DATE_TEXT_SIZE, "20%02u%02u%02u%02u%02u.%02u", u32_Year2,
                  u32_Field(t_Tm.tm_mon + 1), u32_Field(t_Tm.tm_mday), u32_Field(t_Tm.tm_hour % 24),
                  u32_Field(t_Tm.tm_min), u32_Field(t_Tm.tm_sec));
    if (u32_Year2 <= 9) {
        return ClockGate::YearBefore2010;
    }
    if (static_cast<std::uint32_t>(t_Seconds) == 0) {
        return ClockGate::ZeroTime;
    }
    return ClockGate::Go;
}

rtc_time t_Clock_RtcRecord(const char (&acn_Text)[XLOCD_DATE_TEXT_SIZE]) {
    rtc_time t_Rtc{};
    t_Rtc.tm_year = ms32_TwoDigits(acn_Text + 2) + 100;
    t_Rtc.tm_mon = ms32_TwoDigits(acn_Text + 4) - 1;
    t_Rtc.tm_mday = ms32_TwoDigits(acn_Text + 6);
    t_Rtc.tm_hour = ms32_TwoDigits(acn_Text + 8);
    t_Rtc.tm_min = ms32_TwoDigits(acn_Text + 10);
    t_Rtc.tm_sec = ms32_TwoDigits(acn_Text + 13);
    return t_Rtc;
}
