// The fix state: the one record that gpsd reports fold into and that GetGPSData, the
// GPSData signal and the clock setting read. Only this module changes it.
#pragma once

#include "fix_rule.h"

#include <cstdint>

const T_GpsState& t_FixState();

// Counts the changes of the state, so that a reader can tell whether it moved.
std::uint32_t u32_FixState_Version();

// Folds one report seen at f64_Boot (CLOCK_BOOTTIME seconds); true for a fix report.
bool b_FixState_Fold(const T_GpsReport& t_Report, double f64_Boot);

// fix_max_age: a fix older than the key's seconds reads as no fix, as after five
// misses; position and time stay. f64_FixState_Expiry is when that next happens
// (infinite while there is nothing to age).
void v_FixState_Age(double f64_Boot);
double f64_FixState_Expiry();
