// The fix state: the one record that gpsd reports fold into and that GetGPSData, the
// GPSData signal and the clock setting read. Only this module changes it.
#pragma once

#include "core/deadlines.h"
#include "gps/gps_records.h"

#include <cstdint>

// fix_max_age: seconds without a fix until the state reads NONE; 0 off.
void v_FixState_Start(std::int32_t s32_MaxAge);

const T_GpsState& t_FixState();

// Counts the changes of the state, so that a reader can tell whether it moved.
std::uint32_t u32_FixState_Version();

// Folds one report seen at f64_Boot (CLOCK_BOOTTIME seconds); true for a fix report.
bool b_FixState_Fold(const T_GpsReport& t_Report, double f64_Boot);

// fix_max_age: a fix older than the key's seconds reads as no fix, as after five
// misses; position and time stay. The deadline is when that next happens.
void v_FixState_Age(double f64_Boot);
void v_FixState_Deadlines(T_Deadlines* pt_Next);
