#include "gpsd_report.h"

#include <cmath>
#include <cstring>

namespace {

// gpsd 3.22 leaves "status" out of a TPV for an ordinary GPS fix; libgps 3.22 then
// holds STATUS_NO_FIX ("no, or unknown") and sets STATUS_SET all the same, so an
// absent status cannot be told from a sent 0. A 2D/3D mode with status 0 is
// therefore taken as an ordinary fix (STATUS_FIX); DGPS, RTK and the like keep
// their own status, and a status with mode 0/1 stays as sent.
int ms32_Gpsd_Status(const gps_data_t& t_Data) {
    if (t_Data.fix.status >= STATUS_FIX) {
        return t_Data.fix.status;
    }
    return t_Data.fix.mode >= MODE_2D ? STATUS_FIX : STATUS_NO_FIX;
}

// An unset time (both parts 0) is "not supplied", like a NaN field.
double mf64_Gpsd_Time(const timespec& t_Time) {
    if (t_Time.tv_sec == 0 && t_Time.tv_nsec == 0) {
        return NAN;
    }
    return static_cast<double>(t_Time.tv_sec) + static_cast<double>(t_Time.tv_nsec) / 1e9;
}

} // namespace

void v_Gpsd_Port(const T_Config& t_Config, char (&acn_Port)[XLOCD_PORT_SIZE]) {
    if (t_Config.u16_GpsTcpPort == 0) {
        std::snprintf(acn_Port, XLOCD_PORT_SIZE, "2947");
        return;
    }
    const char* pc_Spec = t_Config.acn_GpsSourceSpec;
    const char* pc_Colon = std::strchr(pc_Spec, ':');
    const char* pc_Port = pc_Colon != nullptr ? pc_Colon + 1 : pc_Spec;
    const std::size_t u32_Len = std::strcspn(pc_Port, ":");
    std::snprintf(acn_Port, XLOCD_PORT_SIZE, "%.*s", static_cast<int>(u32_Len), pc_Port);
}

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
        // brought; libgps 3.22 sets STATUS_SET for every TPV and for no other class.
        .b_Position = (t_Data.set & STATUS_SET) != 0,
    };
}
