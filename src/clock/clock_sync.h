// Clock setting from GPS: the system clock through `date -s` while it reads a date
// before 2010, and the RTC, again after each configured interval. This module owns the
// sync schedule and the clock guard.
#pragma once

#include "config.h"
#include "core/deadlines.h"

#include <cstdint>

struct T_ClockSettings {
    bool b_SetSystemTime; // auto_set_system_time
    bool b_SetRtc;        // auto_set_rtc_time
    char acn_RtcPath[XLOCD_RTC_PATH_SIZE];
    std::int32_t s32_RtcInterval; // auto_set_rtc_time_interval: seconds; 0 once
    std::int32_t s32_MinFixes;    // clock_min_fixes; 0 off
    std::int64_t s64_NotBefore;   // clock_not_before: seconds since 1970; 0 off
};

void v_ClockSync_Start(const T_ClockSettings& t_Settings);

// Every report goes to the guard (clock_min_fixes): a position report or another kind,
// with a fix or without.
void v_ClockSync_Observe(bool b_Position, bool b_Fix, double f64_FixTime);

// Each pass: b_Step says whether it has a gpsd connection and a valid fix; the clock
// step (the design's mv_SetSystemTime) runs on those passes only.
void v_ClockSync_Pass(bool b_Step);

// Only after a pass whose step ran: at once when the step set the sync pending again,
// so that the sync runs also while gpsd is silent; else the wall-clock second at which
// the interval next sets it pending. Whatever brings a step back brings a pass.
void v_ClockSync_Deadlines(T_Deadlines* pt_Next);

// The wall clock was set back by s64_Seconds: the interval moves back with it.
void v_ClockSync_ClockSetBack(std::int64_t s64_Seconds);
