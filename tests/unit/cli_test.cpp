#include "cli.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>

namespace {

TEST(CliParse, OptionSubstringsComeBeforeThePath) {
    const std::string t_Max(511, 'a');
    const std::string t_Over(512, 'a');
    const struct {
        int s32_Argc;
        const char* pc_Arg;
        CliAction e_Action;
        std::string t_Path;
    } at_Cases[] = {
        {1, "-v", CliAction::MissingArgument, ""},
        {3, "-v", CliAction::Version, ""},
        {2, "/etc/my-vehicle.conf", CliAction::Version, ""},
        {2, "x-h-v", CliAction::Version, ""},
        {2, "x-hv", CliAction::Help, ""},
        {2, "/a-m/x", CliAction::Manual, ""},
        {2, "-V", CliAction::ReadConfig, "-V"},
        {2, "", CliAction::NoToken, ""},
        {2, " \t\n", CliAction::NoToken, ""},
        {3, " /etc/x.conf more words", CliAction::ReadConfig, "/etc/x.conf"},
        {2, "\t/etc/x.conf\n", CliAction::ReadConfig, "/etc/x.conf"},
        {2, t_Max.c_str(), CliAction::ReadConfig, t_Max},
        {2, t_Over.c_str(), CliAction::PathTooLong, t_Over.substr(0, 511)},
    };
    for (const auto& t_Case : at_Cases) {
        const char* apc_Argv[] = {"xlocd", t_Case.pc_Arg, "-v"};
        char acn_Path[XLOCD_PATH_SIZE];
        EXPECT_EQ(t_Case.e_Action, e_Cli_Parse(t_Case.s32_Argc, apc_Argv, acn_Path))
            << t_Case.pc_Arg;
        EXPECT_EQ(t_Case.t_Path, acn_Path) << t_Case.pc_Arg;
    }
}

TEST(CliTexts, ManualFollowsItsLayout) {
    char* pc_Buffer = nullptr;
    std::size_t u32_Size = 0;
    FILE* pt_Out = open_memstream(&pc_Buffer, &u32_Size);
    v_Cli_PrintManual(pt_Out);
    std::fclose(pt_Out);
    const std::string t_Manual(pc_Buffer, u32_Size);
    std::free(pc_Buffer);
    EXPECT_EQ(0u, t_Manual.find("\nNAME \n    xlocd - daemon provides GPS information on request "
                                "\n\nSYNOPSIS \n    xlocd <config-file> [-h] [-v] [-m] \n\n"));
    EXPECT_NE(std::string::npos, t_Manual.find("    typedef struct \n    { \n      charn "
                                               "acn_status[32]; \n"));
    EXPECT_NE(std::string::npos,
              t_Manual.find("      charn acn_UTC[32]; \n    } T_DBUS_GPS_Data; \n"));
    const std::string t_Tail =
        "FILES \n    /etc/init.d/xlocd.config \n         The system wide "
        "configuration file of the daemon. \n\nAUTHOR \n    xlocd developers \n\n\n";
    EXPECT_EQ(t_Tail, t_Manual.substr(t_Manual.size() - std::min(t_Manual.size(), t_Tail.size())));
    EXPECT_EQ(std::string::npos, t_Manual.find("-m   ")); // -m is not under OPTIONS
    std::istringstream t_Lines(t_Manual);
    for (std::string t_Line; std::getline(t_Lines, t_Line);) { // one blank ends each line
        EXPECT_TRUE(t_Line.empty() || (t_Line.size() >= 2 && t_Line.back() == ' ' &&
                                       t_Line[t_Line.size() - 2] != ' '))
            << '"' << t_Line << '"';
    }
}

} // namespace
