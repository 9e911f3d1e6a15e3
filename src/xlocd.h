// Process-wide records of the daemon. Every record is one instance that lives from
// start to exit and is zeroed before anything else happens.
#pragma once

#include "config.h"
#include "orb_client.h"

#include <cstdint>

struct gps_data_t;

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

constexpr const char* XLOCD_NAME = "xlocd";
constexpr const char* XLOCD_VERSION = "v3_03r1";

extern T_Config gt_Config;
extern T_DBUS_Client gt_Client;
extern T_GpsState gt_GpsState;
extern std::uint8_t gu8_MissCount;
extern volatile std::uint8_t u8_Quit;
extern std::int32_t s32_GpsdConnected;
extern std::int32_t s32_TriggerPeriod;
extern std::int32_t s32_NextTrigger;
extern std::int32_t s32_NextSyncTime;
extern std::int32_t s32_SyncPending;
extern const char* gpc_ProgramName;

// gpsd link (gpsd_link.cpp)
std::int32_t ms32_ConnectGpsd(bool b_FirstAttempt);
// True when a whole report was read and folded into gt_GpsState; libgps may then
// hold more of gpsd's data in its own buffer, where poll cannot see it.
bool b_Gpsd_ReadReport();
void v_Gpsd_Close();
int s32_Gpsd_Fd(); // -1 while not connected

// Main loop and shutdown (loop.cpp)
[[noreturn]] void v_MainLoop();
[[noreturn]] void mv_Shutdown();

// GetGPSData (reply.cpp)
std::int32_t ms32_Process_GetData(DBusMessage* pt_Request);

// Clock setting (clock.cpp)
void mv_SetSystemTime();

// Wall-clock seconds from `time`, and a deadline that saturates instead of wrapping.
std::int32_t s32_Now();
constexpr std::int32_t s32_After(std::int32_t s32_Now, std::int32_t s32_Seconds) {
    const std::int64_t s64_Deadline = static_cast<std::int64_t>(s32_Now) + s32_Seconds;
    return s64_Deadline > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(s64_Deadline);
}
