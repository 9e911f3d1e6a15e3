// The fix rule: how one gpsd report folds into the fix state, apart from any state of
// the daemon's own, so that it is tested as a plain function.
#pragma once

#include <cstdint>

// The daemon's fix state, fields in the design's order.
struct T_GpsState {
    std::uint8_t u8_Valid;
    char acn_Status[5];
    double f64_Latitude;
    double f64_Longitude;
    double f64_Altitude;
    double f64_Time;
    std::uint8_t u8_Satellites;
    char acn_Warn[2];
    double f64_Speed;
    double f64_Course;
    char acn_Quality[2];
    std::uint8_t u8_FixType;
};

constexpr std::uint8_t XLOCD_MISS_LIMIT = 5;

// What the fix rule needs of one report; values not supplied are NaN.
struct T_GpsReport {
    int s32_Status; // at least 1 when the library reports a fix
    int s32_Mode;   // 0 not seen, 1 none, 2 2D, 3 3D
    int s32_SatellitesUsed;
    double f64_Time;
    double f64_Latitude;
    double f64_Longitude;
    double f64_Altitude;
    double f64_Track;
    double f64_Speed; // metres per second
    bool b_Position;  // a report about position (a TPV), with or without a fix
};

// Returns true for a fix report; the caller then clears the library's fix.
bool b_Fix_Fold(T_GpsState* pt_State, std::uint8_t* pu8_MissCount, const T_GpsReport& t_Report);

// The no-fix state, as after five misses in a row: position and time stay.
void v_Fix_MarkNone(T_GpsState* pt_State, std::uint8_t* pu8_MissCount);
