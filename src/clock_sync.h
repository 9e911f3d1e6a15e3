// Clock setting from GPS: the system clock through `date -s` while it reads a date
// before 2010, and the RTC, again after each configured interval. This module owns the
// sync schedule and the clock guard.
#pragma once

#include <cstdint>

// Every report goes to the guard (clock_min_fixes): a position report or another kind,
// with a fix or without.
void v_ClockSync_Observe(bool b_Position, bool b_Fix, double f64_FixTime);

// The clock step, on every pass with a gpsd connection and a valid fix.
void mv_SetSystemTime();

// The last step set the sync pending again: the next pass is due at once, so that the
// sync runs also while gpsd is silent.
bool b_ClockSync_Due();

// The wall-clock second at which the interval next sets the sync pending; INT64_MAX
// for none. It counts only while the step runs.
std::int64_t s64_ClockSync_NextDeadline();

// The wall clock was set back by s64_Seconds: the interval moves back with it.
void v_ClockSync_ClockSetBack(std::int64_t s64_Seconds);
