// Start-up: command line, configuration, log, bus identity, then the main loop.
#include "cli.h"
#include "dbus_owners.hpp"
#include "gpsd_link.h"
#include "log.h"
#include "xlocd.h"

#include <sys/stat.h>

#include <csignal>
#include <cstdio>
#include <initializer_list>

// Process-wide records; static storage, so they are zero before main runs.
T_Config gt_Config;
T_DBUS_Client gt_Client;
T_GpsState gt_GpsState;
std::uint8_t gu8_MissCount;
std::uint32_t gu32_StateVersion;
volatile std::uint8_t u8_Quit;
std::int32_t s32_TriggerPeriod;
std::int64_t s64_NextTrigger;
std::int64_t s64_NextSyncTime;
std::int32_t s32_SyncPending = 1; // the first valid fix syncs
const char* gpc_ProgramName = "xlocd";

namespace {

void mv_SignalHandler(int) {
    u8_Quit = 1;
    v_Loop_WakeFromSignal(); // the loop may be asleep with no deadline at all
}

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

void mv_Startup_Signals() {
    struct sigaction t_Action {};
    t_Action.sa_handler = mv_SignalHandler;
    sigemptyset(&t_Action.sa_mask);
    t_Action.sa_flags = 0; // no SA_RESTART: a stop signal cuts the loop's wait short
    v_Loop_Prepare();
    sigaction(SIGINT, &t_Action, nullptr);
    sigaction(SIGTERM, &t_Action, nullptr);
}

void mv_Startup_Bus() {
    std::snprintf(gt_Client.acn_Name, sizeof gt_Client.acn_Name, "%s", XLOCD_NAME);
    std::snprintf(gt_Client.acn_Version, sizeof gt_Client.acn_Version, "%s", XLOCD_VERSION);
    std::snprintf(gt_Client.acn_Info, sizeof gt_Client.acn_Info, "unknown");
    std::snprintf(gt_Client.acn_Description, sizeof gt_Client.acn_Description,
                  "daemon provides GPS information on request");
    if (s32_DBUS_Register(&gt_Client) != 0) {
        std::fputs("Register xlocd on DBUS failed", stderr);
        s32_Log_Write("Register xlocd on DBUS failed");
        mv_Shutdown();
    }
    // A lost bus is not a reason to exit; the loop goes on serving gpsd and signals.
    dbus_connection_set_exit_on_disconnect(gt_Client.pt_Connection, FALSE);
    if (s32_DBUS_SendHello(&gt_Client) != 0) {
        s32_Log_Write("Send Hello signal failed");
        mv_Shutdown();
    }
    // No error object: the bus's answers are not awaited. It refuses the last rule
    // ("method" is no message type); that error arrives later and is released unread.
    for (const char* pc_Rule :
         {"type='signal',interface='zel.orb.broadcast'", "type='signal',interface='zel.orb.xlocd'",
          "type='method',interface='zel.orb.xlocd'"}) {
        dbus_bus_add_match(gt_Client.pt_Connection, pc_Rule, nullptr);
        orb::b_FlushBounded(gt_Client.pt_Connection, orb::t_SendStart());
    }
}

void mv_Startup_Watchdog() {
    if (gt_Config.s32_WatchdogInterval <= 0) {
        return;
    }
    gt_Client.s32_WatchdogInterval = gt_Config.s32_WatchdogInterval;
    std::snprintf(gt_Client.acn_WatchdogCmd, sizeof gt_Client.acn_WatchdogCmd, "%s",
                  gt_Config.acn_CmdOnWatchdog);
    if (s32_DBUS_RegisterWatchdog(&gt_Client) != 0) {
        gt_Config.s32_WatchdogInterval = 0; // silently: the loop never triggers
        return;
    }
    const std::int32_t s32_Half = gt_Config.s32_WatchdogInterval / 2;
    s32_TriggerPeriod = s32_Half < 1 ? 1 : s32_Half;
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
    mv_Startup_Signals();
    mv_Startup_Bus();
    mv_Startup_Watchdog();
    v_Loop_LimitReceived(true);
    ms32_ConnectGpsd(true); // the link keeps the design's s32_GpsdConnected
    v_Signal_Start();
    v_MainLoop();
}
