// Times for test fixtures.
#pragma once

#include <cstdint>

// Seconds since 1970 of a UTC date, without time_t (32 bits on armhf).
constexpr std::int64_t s64_Utc(int s32_Year, int s32_Mon, int s32_Day, int s32_H, int s32_M,
                               int s32_S) {
    const int s32_Y = s32_Year - (s32_Mon <= 2 ? 1 : 0); // years counted from March
    const int s32_Era = (s32_Y >= 0 ? s32_Y : s32_Y - 399) / 400;
    const int s32_YearOfEra = s32_Y - s32_Era * 400;
    const int s32_DayOfYear = (153 * (s32_Mon + (s32_Mon > 2 ? -3 : 9)) + 2) / 5 + s32_Day - 1;
    const int s32_DayOfEra =
        s32_YearOfEra * 365 + s32_YearOfEra / 4 - s32_YearOfEra / 100 + s32_DayOfYear;
    const std::int64_t s64_Days = std::int64_t{s32_Era} * 146097 + s32_DayOfEra - 719468;
    return s64_Days * 86400 + s32_H * 3600 + s32_M * 60 + s32_S;
}
