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
};

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
