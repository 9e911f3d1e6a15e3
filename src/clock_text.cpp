#include "clock_text.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>

namespace {

int ms32_TwoDigits(const char* pc_Text) {
    return (pc_Text[0] - '0') * 10 + (pc_Text[1] - '0');
}

} // namespace

ClockGate e_Clock_DateText(double f64_FixTime, char (&acn_Text)[XLOCD_DATE_TEXT_SIZE]) {
    acn_Text[0] = '\0';
    constexpr double kLimit = 9.2e18;
    if (!std::isfinite(f64_FixTime) || std::fabs(f64_FixTime) >= kLimit) {
        return ClockGate::Unusable;
    }
    const auto t_Seconds = static_cast<std::time_t>(f64_FixTime);
    std::tm t_Tm{};
    if (localtime_r(&t_Seconds, &t_Tm) == nullptr) {
        return ClockGate::Unusable;
    }
    const unsigned u32_Year2 = u32_TwoDigitYear(t_Tm);
    std::snprintf(acn_Text, XLOCD_DATE_TEXT_SIZE, "20%02u%02u%02u%02u%02u.%02u", u32_Year2,
                  u32_Field(t_Tm.tm_mon + 1), u32_Field(t_Tm.tm_mday), u32_Field(t_Tm.tm_hour % 24),
                  u32_Field(t_Tm.tm_min), u32_Field(t_Tm.tm_sec));
    if (u32_Year2 <= 9) {
        return ClockGate::YearBefore2010;
    }
    if (static_cast<std::uint32_t>(static_cast<std::int64_t>(f64_FixTime)) == 0) {
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
