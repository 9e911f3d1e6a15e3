// Configuration file: one key/value file, read once at start-up.
#pragma once

#include <cstdint>
#include <cstdio>

// Any value the lookup can deliver for RTC_path fits (at most 254 - 8 characters),
// so a long device path is kept whole instead of being cut or refused.
constexpr std::uint32_t XLOCD_RTC_PATH_SIZE = 256;
constexpr std::uint32_t XLOCD_CONFIG_VALUE_SIZE = 256;

struct T_Config {
    char acn_LogFile[255];
    char acn_CmdOnWatchdog[257];
    std::int32_t s32_WatchdogInterval;
    std::int32_t s32_AutoSetSystemTime;
    std::int32_t s32_AutoSetRtcTime;
    char acn_RtcPath[XLOCD_RTC_PATH_SIZE];
    std::int32_t s32_AutoSetRtcTimeInterval;
    std::uint16_t u16_GpsTcpPort;
    char acn_GpsSourceSpec[10];
    // Opt-in keys, read after the eight above; absent (0) leaves the daemon as it
    // always was.
    std::int32_t s32_GpsdReconnect;             // gpsd_reconnect: seconds between attempts
    std::int32_t s32_FixMaxAge;                 // fix_max_age: seconds without a fix until NONE
    std::int32_t s32_ClockMinFixes;             // clock_min_fixes: consistent fixes before a sync
    std::int64_t s64_ClockNotBefore;            // clock_not_before: seconds since 1970 (UTC)
    std::int32_t s32_GpsDataSignal;             // gps_data_signal: 1 sends GPSData on changes
    std::int32_t s32_Introspection;             // introspection: 1 answers Introspect and Peer
    std::int32_t s32_ExitOnBusLoss;             // exit_on_bus_loss: seconds a mute bus is given
    std::int32_t s32_GpsdUserSet;               // gpsd_user: 1 while its line is there
    char acn_GpsdUser[XLOCD_CONFIG_VALUE_SIZE]; // the one account besides root gpsd may be
};

// Seconds since 1970 of 00:00 UTC on a "YYYY-MM-DD" date, or -1 for any other text.
std::int64_t s64_Config_ParseDate(const char* pc_Date);

// A line the reader printed that belongs in the log as well, once it is open; or null.
const char* pc_Config_Warning();

// Fills a zeroed record from the open stream. Always 0; missing keys take defaults.
std::int32_t s32_Config_Read(FILE* pt_File, T_Config* pt_Config);

// First line piece that begins with pc_Key, rewinding first. 0 found, -1 not found or
// unusable arguments. u32_Size outside 2..32767 is refused with -1.
std::int32_t s32_Config_GetValue(FILE* pt_File, const char* pc_Key, char* pc_Value,
                                 std::uint32_t u32_Size);

// As s32_Config_GetValue, from the stream's current position.
std::int32_t s32_Config_GetNextValue(FILE* pt_File, const char* pc_Key, char* pc_Value,
                                     std::uint32_t u32_Size);

// Bounded copy that always terminates when u32_Size > 0; returns strlen(pc_Src).
std::uint32_t u32_StrCopy(char* pc_Dest, const char* pc_Src, std::uint32_t u32_Size);
