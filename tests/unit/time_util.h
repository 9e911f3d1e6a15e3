// Broken-down time for test fixtures.
#pragma once

#include <ctime>

inline std::tm t_Tm(int s32_Year, int s32_Mon, int s32_Day, int s32_H, int s32_M, int s32_S) {
    std::tm t_Result{};
    t_Result.tm_year = s32_Year - 1900;
    t_Result.tm_mon = s32_Mon - 1;
    t_Result.tm_mday = s32_Day;
    t_Result.tm_hour = s32_H;
    t_Result.tm_min = s32_M;
    t_Result.tm_sec = s32_S;
    t_Result.tm_isdst = -1;
    return t_Result;
}
