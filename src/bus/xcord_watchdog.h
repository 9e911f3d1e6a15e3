// The watchdog kept by xcord, on the daemon's side: the registration at start-up, a
// trigger every half interval, the cancel at shutdown. This module owns the schedule.
#pragma once

#include "core/deadlines.h"

#include <cstdint>

// With s32_Interval above 0: registers with xcord (a blocking call). A refused
// registration is silent and only disables triggering.
void v_Watchdog_Start(std::int32_t s32_Interval, const char* pc_Command);

// Triggers when the wall-clock second s64_Wall has reached the next trigger.
void v_Watchdog_Pass(std::int64_t s64_Wall);

// The wall-clock second of the next trigger, while one is registered.
void v_Watchdog_Deadlines(T_Deadlines* pt_Next);

// The wall clock was set back by s64_Seconds: the next trigger moves back with it,
// so that the watchdog is not held off for the length of the step.
void v_Watchdog_ClockSetBack(std::int64_t s64_Seconds);

// CancelWatchdog, also when none was registered (shutdown).
void v_Watchdog_Cancel();
