#include "core/cli.h"

#include "core/xlocd_version.h"

#include <cctype>
#include <cstring>
#include <string_view>

namespace {

// Every non-empty line of the help and manual texts ends with one blank;
// printing adds it, so the tables cannot drift from that rule.
constexpr std::string_view kTitle =
    "xlocd " XLOCD_VERSION " - daemon provides GPS information on request";
constexpr std::string_view kHelpLines[] = {
    kTitle,
    "",
    "Usage: xlocd <config-file> [-h] [-v] [-m]",
    "Requires: configuration file",
    "Options:",
    "    -v   version number of the daemon",
    "    -h   usage and options (this help)",
    "    -m   manual page",
};

constexpr std::string_view kManualLines[] = {
    "NAME",
    "    xlocd - daemon provides GPS information on request",
    "",
    "SYNOPSIS",
    "    xlocd <config-file> [-h] [-v] [-m]",
    "",
    "DESCRIPTION",
    "    The GPS daemon provides position, date and time information from a GPS",
    "    receiver. It should be started at boot time on system that embedded GPS",
    "    receivers.",
    "",
    "    The daemon fills the information into a struct that is accessible via",
    "    the ZEL orbital relay base (ORB).",
    "",
    "    typedef struct",
    "    {",
    "      charn acn_status[32];",
    "      charn acn_latitude[32];",
    "      charn acn_longitude[32];",
    "      charn acn_altitude[32];",
    "      charn acn_time[32];",
    "      charn acn_satellites[32];",
    "      charn acn_quality[32];",
    "      charn acn_warn[32];",
    "      charn acn_speed[32];",
    "      charn acn_course[32];",
    "      charn acn_date[32];",
    "      charn acn_UTC[32];",
    "    } T_DBUS_GPS_Data;",
    "",
    "    For further information, see the User Manual.",
    "",
    "OPTIONS",
    "    <config-file>",
    "         Configuration file of the daemon.",
    "",
    "    -v   Version number of the daemon.",
    "",
    "    -h   Usage and options (help).",
    "",
    "FILES",
    "    /etc/init.d/xlocd.config",
    "         The system wide configuration file of the daemon.",
    "",
    "AUTHOR",
    "    xlocd developers",
    "",
    "",
};

template <std::size_t N>
void mv_Cli_PrintLines(FILE* pt_Out, const std::string_view (&t_Lines)[N]) {
    for (const std::string_view t_Line : t_Lines) {
        if (t_Line.empty()) {
            std::fputc('\n', pt_Out);
        } else {
            std::fprintf(pt_Out, "%.*s \n", static_cast<int>(t_Line.size()), t_Line.data());
        }
    }
}

bool mb_IsBlank(char c_Char) {
    return std::isspace(static_cast<unsigned char>(c_Char)) != 0;
}

} // namespace

CliAction e_Cli_Parse(int s32_Argc, const char* const* ppc_Argv,
                      char (&acn_Path)[XLOCD_PATH_SIZE]) {
    acn_Path[0] = '\0';
    if (s32_Argc < 2) {
        return CliAction::MissingArgument;
    }
    const char* pc_Arg = ppc_Argv[1];
    // Substring tests on the whole argument, in this order, before it is a path.
    if (std::strstr(pc_Arg, "-v") != nullptr) {
        return CliAction::Version;
    }
    if (std::strstr(pc_Arg, "-h") != nullptr) {
        return CliAction::Help;
    }
    if (std::strstr(pc_Arg, "-m") != nullptr) {
        return CliAction::Manual;
    }
    while (*pc_Arg != '\0' && mb_IsBlank(*pc_Arg)) {
        ++pc_Arg;
    }
    std::size_t u32_Len = 0;
    while (pc_Arg[u32_Len] != '\0' && !mb_IsBlank(pc_Arg[u32_Len])) {
        ++u32_Len;
    }
    if (u32_Len == 0) {
        return CliAction::NoToken;
    }
    const std::size_t u32_Copy = u32_Len < XLOCD_PATH_SIZE ? u32_Len : XLOCD_PATH_SIZE - 1;
    std::memcpy(acn_Path, pc_Arg, u32_Copy);
    acn_Path[u32_Copy] = '\0';
    return u32_Len < XLOCD_PATH_SIZE ? CliAction::ReadConfig : CliAction::PathTooLong;
}

void v_Cli_PrintUsageError(FILE* pt_Out) {
    std::fputs("invalid argument, type xlocd -h for help \n"
               "Usage: xlocd <config-file> [-h] [-v] [-m] \n",
               pt_Out);
}

void v_Cli_PrintVersion(FILE* pt_Out) {
    std::fprintf(pt_Out, "%s\n", XLOCD_VERSION);
}

void v_Cli_PrintHelp(FILE* pt_Out) {
    std::fputc('\n', pt_Out);
    mv_Cli_PrintLines(pt_Out, kHelpLines);
    std::fputc('\n', pt_Out);
}

void v_Cli_PrintManual(FILE* pt_Out) {
    std::fputc('\n', pt_Out);
    mv_Cli_PrintLines(pt_Out, kManualLines);
}
