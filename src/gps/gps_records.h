// The records of GPS data: the daemon's fix state, and what the fix rule needs of one
// gpsd report.
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
