// The clock guard (clock_min_fixes and clock_not_before): the clock and the RTC take
// a fix time only after a run of position reports with a fix whose times advance by
// more than 0 and at most 2 s each, and never one before the configured date.
// Receivers report a cold-start epoch (1980) or, after a GPS week rollover, dates
// 1024 weeks back; the date text alone cannot tell them apart. A position report
// without a fix breaks the run; one that repeats the last fix time, and reports of
// other kinds (satellites, devices), say nothing about it.
#pragma once

#include <cstdint>

struct T_ClockGuard {
    std::int32_t s32_Streak; // consecutive fixes with times advancing up to 2 s
    double f64_LastTime;     // of the last fix in the streak
};

enum class ClockRefusal { None, TooFewFixes, BeforeDate };

void v_ClockGuard_Fold(T_ClockGuard* pt_Guard, bool b_Position, bool b_Fix, double f64_FixTime);
ClockRefusal e_ClockGuard_Check(const T_ClockGuard& t_Guard, std::int32_t s32_MinFixes,
                                std::int64_t s64_NotBefore, double f64_FixTime);
