// The daemon's two clocks. Deadlines the design words in wall-clock seconds (the
// watchdog, the RTC interval) follow `time`; ages and pacing count on CLOCK_BOOTTIME,
// which neither a clock set from GPS nor a suspend (ignition off) can stop or move.
#pragma once

#include <cstdint>

// Wall-clock seconds from `time`, in 64 bits.
std::int64_t s64_Timebase_Wall();

// CLOCK_BOOTTIME in seconds: monotonic, and counting the time the unit was suspended.
double f64_Timebase_Boot();

// Wall clock minus boot clock, in seconds. It changes only when the wall clock is
// set (slewing aside), also across a suspend, so the change between two readings is
// the step.
double f64_Timebase_WallOffset();
