// Start-up: command line, configuration, log, bus identity, then the main loop. The
// configuration is read here, and each module gets its settings from it as it starts.
#include "bus/bus_service.h"
#include "bus/gps_signal.h"
#include "bus/xcord_watchdog.h"
#include "clock/clock_sync.h"
#include "config.h"
#include "core/cli.h"
#include "core/loop.h"
#include "core/service_notify.h"
#include "core/shutdown.h"
#include "core/timebase.h"
#include "gps/fix_state.h"
#include "gps/gpsd_link.h"
#include "log.h"

#include <sys/stat.h>

#include <csignal>
#include <cstdio>
#include <cstring>

namespace {

T_Config gt_Config; // as read; static storage, so it is zero before the reader fills it

// Returns the exit status for the command-line actions that end the process, or -1.
int ms32_Startup_CommandLine(int argc, const char* const* argv, char (&acn_Path)[XLOCD_PATH_SIZE]) {
    switch (e_Cli_Parse(argc, argv, acn_Path)) {
    case CliAction::MissingArgument:
        v_Cli_PrintUsageError(stdout);
        return 1;
    case CliAction::Version:
        v_Cli_PrintVersion(stdout);
        return 0;
    case CliAction::Help:
        v_Cli_PrintHelp(stdout);
        return 0;
    case CliAction::Manual:
        v_Cli_PrintManual(stdout);
        return 0;
    case CliAction::NoToken:
        v_Cli_PrintHelp(stdout);
        return 1;
    case CliAction::PathTooLong:
        std::printf("No valid config file '%s'\n", argv[1]);
        return 1;
    case CliAction::ReadConfig:
        break;
    }
    return -1;
}

int ms32_Startup_Config(const char* pc_Path) {
    struct stat t_Stat {};
    if (stat(pc_Path, &t_Stat) != 0 || !S_ISREG(t_Stat.st_mode)) {
        std::printf("No valid config file '%s'\n", pc_Path);
        return 1;
    }
    FILE* pt_File = std::fopen(pc_Path, "r");
    if (pt_File == nullptr) {
        std::printf("Could not open config file: %s", pc_Path);
        return 1;
    }
    if (s32_Config_Read(pt_File, &gt_Config) != 0) {
        std::printf("Quit because of an error while reading the config file %s\n", pc_Path);
        std::fclose(pt_File);
        return 1;
    }
    std::fclose(pt_File);
    return -1;
}

int ms32_Startup_Log() {
    if (gt_Config.acn_LogFile[0] == '\0') {
        std::puts("No log file entry found in config file -> send log msg to stdout");
    } else if (s32_Log_Open(gt_Config.acn_LogFile) != 0) {
        std::printf("Could not open log file: %s\n", gt_Config.acn_LogFile);
        return 1;
    }
    if (const char* pc_Warning = pc_Config_Warning(); pc_Warning != nullptr) {
        s32_Log_Write(pc_Warning);
    }
    return -1;
}

T_ClockSettings mt_ClockSettings() {
    T_ClockSettings t_Clock{
        .b_SetSystemTime = gt_Config.s32_AutoSetSystemTime == 1,
        .b_SetRtc = gt_Config.s32_AutoSetRtcTime == 1,
        .acn_RtcPath = {},
        .s32_RtcInterval = gt_Config.s32_AutoSetRtcTimeInterval,
        .s32_MinFixes = gt_Config.s32_ClockMinFixes,
        .s64_NotBefore = gt_Config.s64_ClockNotBefore,
    };
    std::memcpy(t_Clock.acn_RtcPath, gt_Config.acn_RtcPath, sizeof t_Clock.acn_RtcPath);
    return t_Clock;
}

void mv_Startup_Bus() {
    const T_BusSettings t_Bus{.b_Introspection = gt_Config.s32_Introspection > 0,
                              .s32_ExitOnBusLoss = gt_Config.s32_ExitOnBusLoss};
    switch (e_BusService_Start(t_Bus)) {
    case BusStart::Failed:
        v_Shutdown_Exit(0);
    case BusStart::Lost: // a bus gone between the name and HELLO is lost too
        v_Shutdown_Lost(pc_BusService_Lost(f64_Timebase_Boot()));
    case BusStart::Ready:
        break;
    }
}

void mv_Startup_Gps(const char* pc_ProgramName) {
    T_GpsdSettings t_Gpsd{.acn_Port = {},
                          .s32_Reconnect = gt_Config.s32_GpsdReconnect,
                          .pc_ProgramName = pc_ProgramName,
                          .pc_User =
                              gt_Config.s32_GpsdUserSet == 1 ? gt_Config.acn_GpsdUser : nullptr};
    v_GpsdConnect_Port(gt_Config, t_Gpsd.acn_Port);
    v_Gpsd_Start(t_Gpsd);
}

} // namespace

int main(int argc, char** argv) {
    // A write to a dead gpsd socket or to a closed stdout pipe must fail with EPIPE,
    // not end the daemon without GOODBYE and CancelWatchdog.
    std::signal(SIGPIPE, SIG_IGN);
    char acn_Path[XLOCD_PATH_SIZE];
    if (const int s32_Exit = ms32_Startup_CommandLine(argc, argv, acn_Path); s32_Exit >= 0) {
        return s32_Exit;
    }
    if (const int s32_Exit = ms32_Startup_Config(acn_Path); s32_Exit >= 0) {
        return s32_Exit;
    }
    if (const int s32_Exit = ms32_Startup_Log(); s32_Exit >= 0) {
        return s32_Exit;
    }
    v_Loop_InstallStopSignals();
    v_FixState_Start(gt_Config.s32_FixMaxAge);
    v_ClockSync_Start(mt_ClockSettings());
    mv_Startup_Bus();
    v_Watchdog_Start(gt_Config.s32_WatchdogInterval, gt_Config.acn_CmdOnWatchdog);
    mv_Startup_Gps(argc > 0 ? argv[0] : "xlocd");
    v_Signal_Start(gt_Config.s32_GpsDataSignal > 0);
    v_Notify_Ready(f64_Timebase_Boot());
    v_MainLoop();
}
