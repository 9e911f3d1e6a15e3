// Process-wide records of the daemon. Every record is one instance that lives from
// start to exit and is zeroed before anything else happens.
#pragma once

#include "config.h"
#include "orb_client.h"

#include <array>
#include <cstdint>
#include <ctime>

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
extern std::uint32_t gu32_StateVersion; // counts the changes of gt_GpsState
extern volatile std::uint8_t u8_Quit;
extern std::int32_t s32_TriggerPeriod;
// Deadlines in wall-clock seconds (the design's s32_NextTrigger and s32_NextSyncTime),
// kept in 64 bits: past 2038 they go on working, and where time_t has 32 bits
// (armhf) a deadline one period after its last second need not saturate.
extern std::int64_t s64_NextTrigger;
extern std::int64_t s64_NextSyncTime;
extern std::int32_t s32_SyncPending;
extern const char* gpc_ProgramName;

// Main loop and shutdown (loop.cpp). Prepare before the stop signals are installed;
// the handler then wakes the loop (async-signal-safe).
void v_Loop_Prepare();
void v_Loop_WakeFromSignal();
void v_Loop_LimitReceived(bool b_Limit); // how far libdbus reads ahead of the loop
[[noreturn]] void v_MainLoop();
[[noreturn]] void mv_Shutdown();

// GetGPSData (reply.cpp): a text store refreshed from the fix state, then its twelve
// texts in reply order; and the reply, made from the store of its own.
struct T_ReplyTexts;
using T_GpsTexts = std::array<const char*, 12>;
T_GpsTexts at_Reply_RefreshTexts(T_ReplyTexts* pt_Texts);
std::int32_t ms32_Process_GetData(DBusMessage* pt_Request);

// Opt-in bus features: the GPSData signal (gps_signal.cpp), introspection and Peer
// (introspection.cpp: answers every method call that reaches it, with an error where
// no method fits; true when a reply went out).
void v_Signal_Start();
void v_Signal_AfterFold();
bool b_Introspection_Answer(DBusMessage* pt_Message);

// Clock setting (clock.cpp). The guard sees every report; the step runs on passes
// with a valid fix. After a step that set the sync pending again the next pass is
// due at once; otherwise the wall-clock second at which the interval next re-arms it
// (INT64_MAX for none).
void v_Clock_Observe(bool b_Position, bool b_Fix, double f64_FixTime);
void mv_SetSystemTime();
bool b_Clock_Rearmed();
std::int64_t s64_Clock_NextDeadline();
