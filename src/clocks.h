// The daemon's clocks, used by the loop, the gpsd link and the clock setting.
#pragma once

#include <cstdint>

// Wall-clock seconds from `time`: the design's deadlines (watchdog, RTC interval).
std::int64_t s64_Now();

// Monotonic seconds, for ages and pacing that setting the clock must not move.
double f64_Monotonic();

// Wall clock minus monotonic clock, in seconds. It changes only when the wall clock
// is stepped (slewing aside), so the change between two readings is the step.
double f64_WallOffset();

// Milliseconds from now until the wall clock reaches whole second s64_Second, at
// least 0. Seconds and fraction come from one reading, so the wait ends just after
// the second turns.
std::int64_t s64_MsUntilWallSecond(std::int64_t s64_Second);
