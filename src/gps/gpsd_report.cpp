#include "gps/gpsd_report.h"

#include <cmath>
#include <type_traits>

namespace {

// libgps renamed two status values between API 11 (gpsd 3.22, Debian 12) and API 14
// (gpsd 3.25, Debian 13); the numbers and the fields stayed. Both gpsd releases leave
// "status" out of a TPV for an ordinary GPS fix, so libgps then holds 0 ("unknown").
#if GPSD_API_MAJOR_VERSION == 11
constexpr int kStatusUnknown = STATUS_NO_FIX;
constexpr int kStatusGps = STATUS_FIX;
#elif GPSD_API_MAJOR_VERSION == 14
constexpr int kStatusUnknown = STATUS_UNK;
constexpr int kStatusGps = STATUS_GPS;
#else
#error "xlocd is built and tested against libgps API 11 (gpsd 3.22) and API 14 (gpsd 3.25)"
#endif
static_assert(kStatusUnknown == 0 && kStatusGps == 1, "the fix rule reads status 1 as a fix");
static_assert(STATUS_DR == 5 && STATUS_TIME == 7 && STATUS_SIM == 8 && STATUS_PPS_FIX == 9);
// The record's fields are read as they are; a change of their type must show here.
static_assert(std::is_same_v<decltype(gps_fix_t::status), int>);
static_assert(std::is_same_v<decltype(gps_fix_t::mode), int>);
static_assert(std::is_same_v<decltype(gps_data_t::satellites_used), int>);

// The status the fix rule sees. Every status above "unknown" is a kind of fix in
// libgps's own words ("with DGPS", "with dead reckoning", "time only", "simulated"),
// and the rule counts "at least 1" as a fix: a dead-reckoned position in a tunnel, a
// surveyed-in timing receiver and a receiver in simulator mode all count, each with
// its mode deciding 2D or 3D. As an absent status cannot be told from a sent 0, a
// 2D/3D mode with status 0 is an ordinary GPS fix; with mode 0/1 it stays 0.
int ms32_Gpsd_Status(const gps_data_t& t_Data) {
    if (t_Data.fix.status >= kStatusGps) {
        return t_Data.fix.status;
    }
    return t_Data.fix.mode >= MODE_2D ? kStatusGps : kStatusUnknown;
}

// An unset time (both parts 0) is "not supplied", like a NaN field.
double mf64_Gpsd_Time(const timespec& t_Time) {
    if (t_Time.tv_sec == 0 && t_Time.tv_nsec == 0) {
        return NAN;
    }
    return static_cast<double>(t_Time.tv_sec) + static_cast<double>(t_Time.tv_nsec) / 1e9;
}

} // namespace

T_GpsReport t_Gpsd_Report(const gps_data_t& t_Data) {
    const gps_fix_t& t_Fix = t_Data.fix;
    return T_GpsReport{
        .s32_Status = ms32_Gpsd_Status(t_Data),
        .s32_Mode = t_Fix.mode,
        .s32_SatellitesUsed = t_Data.satellites_used,
        .f64_Time = mf64_Gpsd_Time(t_Fix.time),
        .f64_Latitude = t_Fix.latitude,
        .f64_Longitude = t_Fix.longitude,
        .f64_Altitude = t_Fix.altMSL, // fix.altitude is deprecated and undefined in API 11
        .f64_Track = t_Fix.track,
        .f64_Speed = t_Fix.speed,
        // The link clears `set` before each read, so it holds what this one report
        // brought; libgps 3.22 and 3.25 set STATUS_SET for every TPV and for no other class.
        .b_Position = (t_Data.set & STATUS_SET) != 0,
    };
}
