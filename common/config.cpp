#include "config.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>
#include <utility>

namespace {

constexpr std::uint32_t kMinLookupSize = 2;
constexpr std::uint32_t kMaxLookupSize = 32767; // fgets takes the size as an int16 count

std::int32_t ms32_Config_Lookup(FILE* pt_File, const char* pc_Key, char* pc_Value,
                                std::uint32_t u32_Size, bool b_Rewind) {
    if (pt_File == nullptr || pc_Key == nullptr || pc_Value == nullptr ||
        u32_Size < kMinLookupSize || u32_Size > kMaxLookupSize) {
        return -1;
    }
    std::unique_ptr<char[]> pc_Line(new (std::nothrow) char[u32_Size + 1]);
    if (!pc_Line) {
        return -1;
    }
    pc_Value[0] = '\0';
    if (b_Rewind) {
        std::rewind(pt_File);
    }
    const std::size_t u32_KeyLen = std::strlen(pc_Key);
    while (std::fgets(pc_Line.get(), static_cast<int>(u32_Size), pt_File) != nullptr) {
        if (std::strncmp(pc_Line.get(), pc_Key, u32_KeyLen) != 0) {
            continue;
        }
        // The character after the key is the separator, whatever it is.
        const char* pc_Rest = pc_Line.get() + u32_KeyLen;
        u32_StrCopy(pc_Value, *pc_Rest == '\0' ? pc_Rest : pc_Rest + 1, u32_Size);
        std::size_t u32_Len = std::strlen(pc_Value);
        if (u32_Len > 0 && pc_Value[u32_Len - 1] == '\n') {
            pc_Value[--u32_Len] = '\0';
        }
        if (u32_Len > 0 && pc_Value[u32_Len - 1] == '\r') {
            pc_Value[--u32_Len] = '\0';
        }
        return 0;
    }
    return -1;
}

// "%d" semantics (blanks, sign, digits up to the first non-digit); a value without a
// number leaves the field alone. Values beyond 32 bits saturate.
void mv_Config_ScanInt(const char* pc_Value, std::int32_t* ps32_Field) {
    char* pc_End = nullptr;
    const long s64_Number = std::strtol(pc_Value, &pc_End, 10);
    if (pc_End == pc_Value) {
        return;
    }
    if (s64_Number > INT32_MAX) {
        *ps32_Field = INT32_MAX;
    } else if (s64_Number < INT32_MIN) {
        *ps32_Field = INT32_MIN;
    } else {
        *ps32_Field = static_cast<std::int32_t>(s64_Number);
    }
}

void mv_Config_ReadPort(const char* pc_Value, T_Config* pt_Config) {
    if (std::strlen(pc_Value) > 5) {
        pt_Config->u16_GpsTcpPort = 0;
        return;
    }
    std::snprintf(pt_Config->acn_GpsSourceSpec, sizeof pt_Config->acn_GpsSourceSpec, ":%s",
                  pc_Value);
    pt_Config->u16_GpsTcpPort = static_cast<std::uint16_t>(std::atoi(pc_Value));
}

char gacn_Warning[320]; // a line for the log, which is not open yet

void mv_Config_ReadNotBefore(const char* pc_Value, T_Config* pt_Config) {
    const char* pc_BuildDate = XLOCD_BUILD_DATE;
    pt_Config->s64_ClockNotBefore =
        s64_Config_ParseDate(*pc_Value != '\0' ? pc_Value : pc_BuildDate);
    if (pt_Config->s64_ClockNotBefore < 0) {
        std::snprintf(gacn_Warning, sizeof gacn_Warning,
                      "Invalid clock_not_before '%s', using the build date %s", pc_Value,
                      pc_BuildDate);
        std::printf("%s\n", gacn_Warning);
        pt_Config->s64_ClockNotBefore = s64_Config_ParseDate(pc_BuildDate);
    }
}

} // namespace

std::int64_t s64_Config_ParseDate(const char* pc_Date) {
    // Exactly YYYY-MM-DD: no blanks or signs, as %d would take them, and a day that exists.
    constexpr std::string_view kShape = "dddd-dd-dd";
    for (std::size_t i = 0; i <= kShape.size(); ++i) {
        const char c_Char = pc_Date[i];
        const bool b_Fits = i == kShape.size() ? c_Char == '\0'
                            : kShape[i] == 'd' ? c_Char >= '0' && c_Char <= '9'
                                               : c_Char == '-';
        if (!b_Fits) {
            return -1;
        }
    }
    const int s32_Year = std::atoi(pc_Date);
    const int s32_Month = std::atoi(pc_Date + 5);
    const int s32_Day = std::atoi(pc_Date + 8);
    constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool b_Leap = (s32_Year % 4 == 0 && s32_Year % 100 != 0) || s32_Year % 400 == 0;
    if (s32_Year < 1970 || s32_Month < 1 || s32_Month > 12 || s32_Day < 1 ||
        s32_Day > kDays[s32_Month - 1] + (s32_Month == 2 && b_Leap ? 1 : 0)) {
        return -1;
    }
    // Days from the civil date (H. Hinnant's algorithm), years counted from March.
    const int s32_Y = s32_Year - (s32_Month <= 2 ? 1 : 0);
    const int s32_YearOfEra = s32_Y % 400;
    const int s32_DayOfYear = (153 * (s32_Month + (s32_Month > 2 ? -3 : 9)) + 2) / 5 + s32_Day - 1;
    const int s32_DayOfEra =
        s32_YearOfEra * 365 + s32_YearOfEra / 4 - s32_YearOfEra / 100 + s32_DayOfYear;
    return (static_cast<std::int64_t>(s32_Y / 400) * 146097 + s32_DayOfEra - 719468) * 86400;
}

const char* pc_Config_Warning() {
    return gacn_Warning[0] != '\0' ? gacn_Warning : nullptr;
}

std::uint32_t u32_StrCopy(char* pc_Dest, const char* pc_Src, std::uint32_t u32_Size) {
    const std::size_t u32_Len = std::strlen(pc_Src);
    if (u32_Size != 0) {
        const std::size_t u32_Copy = u32_Len < u32_Size - 1 ? u32_Len : u32_Size - 1;
        std::memcpy(pc_Dest, pc_Src, u32_Copy);
        pc_Dest[u32_Copy] = '\0';
    }
    return static_cast<std::uint32_t>(u32_Len);
}

std::int32_t s32_Config_GetValue(FILE* pt_File, const char* pc_Key, char* pc_Value,
                                 std::uint32_t u32_Size) {
    return ms32_Config_Lookup(pt_File, pc_Key, pc_Value, u32_Size, true);
}

std::int32_t s32_Config_GetNextValue(FILE* pt_File, const char* pc_Key, char* pc_Value,
                                     std::uint32_t u32_Size) {
    return ms32_Config_Lookup(pt_File, pc_Key, pc_Value, u32_Size, false);
}

std::int32_t s32_Config_Read(FILE* pt_File, T_Config* pt_Config) {
    char acn_Value[XLOCD_CONFIG_VALUE_SIZE];
    const auto b_Found = [&](const char* pc_Key) {
        return s32_Config_GetValue(pt_File, pc_Key, acn_Value, sizeof acn_Value) == 0;
    };
    T_Config& t_Cfg = *pt_Config;

    if (b_Found("Log_File")) {
        u32_StrCopy(t_Cfg.acn_LogFile, acn_Value, sizeof t_Cfg.acn_LogFile);
    } else {
        std::puts("Error in config file. No valid Log_File found");
    }
    if (b_Found("watchdog_interval")) {
        mv_Config_ScanInt(acn_Value, &t_Cfg.s32_WatchdogInterval);
    } else {
        t_Cfg.s32_WatchdogInterval = 0;
    }
    u32_StrCopy(t_Cfg.acn_CmdOnWatchdog, b_Found("CMDOnWatchdog") ? acn_Value : "signal01.beep",
                sizeof t_Cfg.acn_CmdOnWatchdog);
    t_Cfg.s32_AutoSetSystemTime = b_Found("auto_set_system_time") ? 1 : 0;
    t_Cfg.s32_AutoSetRtcTime = b_Found("auto_set_rtc_time") ? 1 : 0;
    if (b_Found("RTC_path")) {
        u32_StrCopy(t_Cfg.acn_RtcPath, acn_Value, sizeof t_Cfg.acn_RtcPath);
    } else {
        std::puts("Did not find RTC path, using default at //dev//rtc0");
        u32_StrCopy(t_Cfg.acn_RtcPath, "//dev//rtc0", sizeof t_Cfg.acn_RtcPath);
    }
    if (b_Found("auto_set_rtc_time_interval")) {
        mv_Config_ScanInt(acn_Value, &t_Cfg.s32_AutoSetRtcTimeInterval);
    } else {
        t_Cfg.s32_AutoSetRtcTimeInterval = 0;
    }
    if (b_Found("gps_tcp_port")) {
        mv_Config_ReadPort(acn_Value, &t_Cfg);
    } else {
        t_Cfg.u16_GpsTcpPort = 0;
    }
    for (const auto& [pc_Key, ps32_Field] :
         {std::pair{"gpsd_reconnect", &t_Cfg.s32_GpsdReconnect},
          std::pair{"fix_max_age", &t_Cfg.s32_FixMaxAge},
          std::pair{"clock_min_fixes", &t_Cfg.s32_ClockMinFixes},
          std::pair{"gps_data_signal", &t_Cfg.s32_GpsDataSignal},
          std::pair{"introspection", &t_Cfg.s32_Introspection},
          std::pair{"exit_on_bus_loss", &t_Cfg.s32_ExitOnBusLoss}}) {
        if (b_Found(pc_Key)) {
            mv_Config_ScanInt(acn_Value, ps32_Field);
        }
    }
    if (b_Found("clock_not_before")) {
        mv_Config_ReadNotBefore(acn_Value, &t_Cfg);
    }
    if (b_Found("gpsd_user")) { // an empty name is no account: root alone then
        t_Cfg.s32_GpsdUserSet = 1;
        u32_StrCopy(t_Cfg.acn_GpsdUser, acn_Value, sizeof t_Cfg.acn_GpsdUser);
    }
    return 0;
}
