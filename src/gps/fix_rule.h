// The fix rule: how one gpsd report folds into the fix state, apart from any state of
// the daemon's own, so that it is tested as a plain function.
#pragma once

#include "gps/gps_records.h"

#include <cstdint>

constexpr std::uint8_t XLOCD_MISS_LIMIT = 5;

// A report with a fix: a status of at least 1 and a 2D or 3D mode.
bool b_Fix_IsFix(const T_GpsReport& t_Report);

// Returns b_Fix_IsFix of the report.
bool b_Fix_Fold(T_GpsState* pt_State, std::uint8_t* pu8_MissCount, const T_GpsReport& t_Report);

// The no-fix state, as after five misses in a row: position and time stay.
void v_Fix_MarkNone(T_GpsState* pt_State, std::uint8_t* pu8_MissCount);
