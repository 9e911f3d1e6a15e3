// Start-up: command line, configuration, log, bus identity, then the main loop.
#include "bus_service.h"
#include "cli.h"
#include "gps_signal.h"
#include "gpsd_link.h"
#include "log.h"
#include "loop.h"
#include "shutdown.h"
#include "watchdog_schedule.h"
#include "xlocd.h"

#include <sys/stat.h>

#include <csignal>
#include <cstdio>

// The records that span the daemon; static storage, so they are zero before main runs.
T_Config gt_Config;
T_DBUS_Client gt_Client;
const char* gpc_ProgramName = "xlocd";

namespace {

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

} // namespace

int main(int argc, char** argv) {
    // A write to a dead gpsd socket or to a closed stdout pipe must fail with EPIPE,
    // not end the daemon without GOODBYE and CancelWatchdog.
    std::signal(SIGPIPE, SIG_IGN);
    if (argc > 0) {
        gpc_ProgramName = argv[0];
    }
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
    if (s32_BusService_Start() != 0) {
        v_Shutdown_IfBusLost(); // a bus gone between the name and HELLO is lost too
        mv_Shutdown();
    }
    v_Watchdog_Register();
    v_BusService_LimitReading(true);
    ms32_ConnectGpsd(true); // the link keeps the design's s32_GpsdConnected
    v_Signal_Start();
    v_MainLoop();
}
