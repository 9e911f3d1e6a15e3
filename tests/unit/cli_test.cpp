#include "cli.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string t_Print(void (*pf_Print)(FILE*)) {
    char* pc_Buffer = nullptr;
    std::size_t u32_Size = 0;
    FILE* pt_Out = open_memstream(&pc_Buffer, &u32_Size);
    pf_Print(pt_Out);
    std::fclose(pt_Out);
    std::string t_Text(pc_Buffer, u32_Size);
    std::free(pc_Buffer);
    return t_Text;
}

TEST(CliParse, OptionSubstringsComeBeforeThePath) {
    struct Case {
        const char* pc_Arg;
        CliAction e_Action;
        const char* pc_Path;
    } const at_Cases[] = {
        {"-v", CliAction::Version, ""},
        {"/etc/my-vehicle.conf", CliAction::Version, ""},
        {"x-h-v", CliAction::Version, ""},
        {"x-hv", CliAction::Help, ""},
        {"--help", CliAction::Help, ""},
        {"/a-m/x", CliAction::Manual, ""},
        {"-V", CliAction::ReadConfig, "-V"},
        {"", CliAction::NoToken, ""},
        {" \t\n", CliAction::NoToken, ""},
        {" /etc/x.conf more words", CliAction::ReadConfig, "/etc/x.conf"},
        {"\t/etc/x.conf\n", CliAction::ReadConfig, "/etc/x.conf"},
    };
    for (const Case& t_Case : at_Cases) {
        const char* apc_Argv[] = {"xlocd", t_Case.pc_Arg, "-v"};
        char acn_Path[XLOCD_PATH_SIZE];
        EXPECT_EQ(t_Case.e_Action, e_Cli_Parse(3, apc_Argv, acn_Path)) << t_Case.pc_Arg;
        if (t_Case.e_Action == CliAction::ReadConfig) {
            EXPECT_STREQ(t_Case.pc_Path, acn_Path) << t_Case.pc_Arg;
        }
    }
}

TEST(CliParse, CountsArgumentsAndBoundsThePath) {
    const char* apc_Argv[] = {"xlocd", nullptr};
    char acn_Path[XLOCD_PATH_SIZE];
    EXPECT_EQ(CliAction::MissingArgument, e_Cli_Parse(1, apc_Argv, acn_Path));
    const std::string t_Max(511, 'a');
    const std::string t_Over(512, 'a');
    apc_Argv[1] = t_Max.c_str();
    EXPECT_EQ(CliAction::ReadConfig, e_Cli_Parse(2, apc_Argv, acn_Path));
    EXPECT_EQ(t_Max, acn_Path);
    apc_Argv[1] = t_Over.c_str();
    EXPECT_EQ(CliAction::PathTooLong, e_Cli_Parse(2, apc_Argv, acn_Path));
}

TEST(CliTexts, ManualFollowsItsLayout) {
    const std::string t_Manual = t_Print(v_Cli_PrintManual);
    EXPECT_EQ(0u,
              t_Manual.find("\nNAME \n    xlocd - daemon provides GPS information on request \n\n"
                            "SYNOPSIS \n    xlocd <config-file> [-h] [-v] [-m] \n\n"));
    EXPECT_NE(std::string::npos, t_Manual.find("    typedef struct \n    { \n"
                                               "      charn acn_status[32]; \n"));
    EXPECT_NE(std::string::npos,
              t_Manual.find("      charn acn_UTC[32]; \n    } T_DBUS_GPS_Data; \n"));
    const std::string t_Tail = "FILES \n    /etc/init.d/xlocd.config \n"
                               "         The system wide configuration file of the daemon. \n"
                               "\nAUTHOR \n    xlocd developers \n\n\n";
    ASSERT_GE(t_Manual.size(), t_Tail.size());
    EXPECT_EQ(t_Tail, t_Manual.substr(t_Manual.size() - t_Tail.size()));
    EXPECT_EQ(std::string::npos, t_Manual.find("-m   ")); // -m is not under OPTIONS
    // Every non-empty line ends with exactly one blank.
    std::size_t u32_Start = 0;
    for (std::size_t u32_End; (u32_End = t_Manual.find('\n', u32_Start)) != std::string::npos;
         u32_Start = u32_End + 1) {
        const std::string t_Line = t_Manual.substr(u32_Start, u32_End - u32_Start);
        if (!t_Line.empty()) {
            EXPECT_TRUE(t_Line.size() >= 2 && t_Line.back() == ' ' &&
                        t_Line[t_Line.size() - 2] != ' ')
                << '"' << t_Line << '"';
        }
    }
}

} // namespace
