#include "config.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// A stream over the given text, as start-up hands the reader an open file.
struct TextFile {
    explicit TextFile(const std::string& t_Text) : pt_File(std::tmpfile()) {
        std::fwrite(t_Text.data(), 1, t_Text.size(), pt_File);
        std::fseek(pt_File, 7 % (t_Text.size() + 1), SEEK_SET); // anywhere
    }
    ~TextFile() { std::fclose(pt_File); }
    FILE* pt_File;
};

struct ReadResult {
    T_Config t_Config;
    std::string t_Stdout;
};

ReadResult t_Read(const std::string& t_Text) {
    TextFile t_File(t_Text);
    ReadResult t_Result{};
    testing::internal::CaptureStdout();
    EXPECT_EQ(0, s32_Config_Read(t_File.pt_File, &t_Result.t_Config));
    t_Result.t_Stdout = testing::internal::GetCapturedStdout();
    return t_Result;
}

std::string t_Value(const std::string& t_Text, const char* pc_Key) {
    TextFile t_File(t_Text);
    char acn_Value[256] = "untouched";
    return s32_Config_GetValue(t_File.pt_File, pc_Key, acn_Value, sizeof acn_Value) == 0
               ? std::string(acn_Value)
               : "<missing:" + std::string(acn_Value) + ">";
}

TEST(ConfigLookup, FindsValuesByTheLineRules) {
    struct Case {
        const char* pc_Text;
        const char* pc_Key;
        const char* pc_Expected;
    } const at_Cases[] = {
        {"Log_File = /var/log/a.log\n", "Log_File", "= /var/log/a.log"},
        {"Log_File=/var/log/a.log\n", "Log_File", "/var/log/a.log"},
        {"Log_File /var/log/a.log\n", "Log_File", "/var/log/a.log"},
        {"Log_Files=/tmp/x\n", "Log_File", "=/tmp/x"},
        {"log_file=/tmp/x\n", "Log_File", "<missing:>"},
        {" Log_File=/tmp/x\n", "Log_File", "<missing:>"},
        {"Log_File=a \r\n", "Log_File", "a "},
        {"Log_File=a\r\r\n", "Log_File", "a\r"},
        {"x=1\nLog_File=/last", "Log_File", "/last"},
        {"Log_File=first\nLog_File=second\n", "Log_File", "first"},
        {"Log_File\n", "Log_File", ""},
        {"Log_File", "Log_File", ""},
        {"Log_File=\n", "Log_File", ""},
        {"auto_set_rtc_time_interval=5\n", "auto_set_rtc_time", "interval=5"},
        {"", "Log_File", "<missing:>"},
    };
    for (const Case& t_Case : at_Cases) {
        EXPECT_EQ(t_Case.pc_Expected, t_Value(t_Case.pc_Text, t_Case.pc_Key)) << t_Case.pc_Text;
    }
}

TEST(ConfigLookup, SeesLongLinesAsPiecesOf255) {
    const std::string t_Long = "Log_File=" + std::string(291, 'a') + "\n"; // 300 + LF
    EXPECT_EQ(std::string(246, 'a'), t_Value(t_Long, "Log_File"));
    // A key at the start of a line's second piece is found.
    const std::string t_KeyInPiece = std::string(255, '#') + "RTC_path=/dev/x\n";
    EXPECT_EQ("/dev/x", t_Value(t_KeyInPiece, "RTC_path"));
}

TEST(ConfigLookup, RefusesUnusableArguments) {
    TextFile t_File("Log_File=x\n");
    char acn_Value[8] = "keep";
    EXPECT_EQ(-1, s32_Config_GetValue(nullptr, "Log_File", acn_Value, 8));
    EXPECT_EQ(-1, s32_Config_GetValue(t_File.pt_File, nullptr, acn_Value, 8));
    EXPECT_EQ(-1, s32_Config_GetValue(t_File.pt_File, "Log_File", nullptr, 8));
    EXPECT_EQ(-1, s32_Config_GetValue(t_File.pt_File, "Log_File", acn_Value, 0));
    EXPECT_EQ(-1, s32_Config_GetValue(t_File.pt_File, "Log_File", acn_Value, 1));
    EXPECT_STREQ("keep", acn_Value);
    // Size 2 reads one-character pieces: only a one-character key can match.
    EXPECT_EQ(-1, s32_Config_GetValue(t_File.pt_File, "Log_File", acn_Value, 2));
    EXPECT_EQ(0, s32_Config_GetValue(t_File.pt_File, "L", acn_Value, 2));
    EXPECT_STREQ("", acn_Value);
}

TEST(ConfigLookup, NextValueVisitsLinesInFileOrder) {
    TextFile t_File("k=1\nother\nk=2\nk=3\n");
    char acn_Value[16];
    ASSERT_EQ(0, s32_Config_GetValue(t_File.pt_File, "k", acn_Value, sizeof acn_Value));
    EXPECT_STREQ("1", acn_Value);
    ASSERT_EQ(0, s32_Config_GetNextValue(t_File.pt_File, "k", acn_Value, sizeof acn_Value));
    EXPECT_STREQ("2", acn_Value);
    ASSERT_EQ(0, s32_Config_GetNextValue(t_File.pt_File, "k", acn_Value, sizeof acn_Value));
    EXPECT_STREQ("3", acn_Value);
    EXPECT_EQ(-1, s32_Config_GetNextValue(t_File.pt_File, "k", acn_Value, sizeof acn_Value));
    EXPECT_STREQ("", acn_Value);
}

TEST(ConfigStrCopy, CopiesBoundedAndReturnsTheSourceLength) {
    char acn_Dest[6];
    std::memset(acn_Dest, 'x', sizeof acn_Dest);
    EXPECT_EQ(3u, u32_StrCopy(acn_Dest, "abc", 6));
    EXPECT_STREQ("abc", acn_Dest);
    EXPECT_EQ(8u, u32_StrCopy(acn_Dest, "abcdefgh", 6));
    EXPECT_STREQ("abcde", acn_Dest);
    EXPECT_EQ(2u, u32_StrCopy(acn_Dest, "zz", 0));
    EXPECT_STREQ("abcde", acn_Dest);
}

TEST(ConfigRead, FallsBackToDefaultsWithTwoMessagesInOrder) {
    const ReadResult t_R = t_Read("nothing here\n");
    EXPECT_EQ("Error in config file. No valid Log_File found\n"
              "Did not find RTC path, using default at //dev//rtc0\n",
              t_R.t_Stdout);
    EXPECT_STREQ("", t_R.t_Config.acn_LogFile);
    EXPECT_STREQ("signal01.beep", t_R.t_Config.acn_CmdOnWatchdog);
    EXPECT_STREQ("//dev//rtc0", t_R.t_Config.acn_RtcPath);
    EXPECT_EQ(0, t_R.t_Config.s32_WatchdogInterval);
    EXPECT_EQ(0, t_R.t_Config.s32_AutoSetSystemTime);
    EXPECT_EQ(0, t_R.t_Config.s32_AutoSetRtcTime);
    EXPECT_EQ(0, t_R.t_Config.u16_GpsTcpPort);
    EXPECT_STREQ("", t_R.t_Config.acn_GpsSourceSpec);
}

TEST(ConfigRead, EmptyValuesAreKeptAndSilenceTheMessages) {
    const ReadResult t_R = t_Read("Log_File\nCMDOnWatchdog=\nRTC_path\n");
    EXPECT_EQ("", t_R.t_Stdout);
    EXPECT_STREQ("", t_R.t_Config.acn_CmdOnWatchdog);
    EXPECT_STREQ("", t_R.t_Config.acn_RtcPath);
}

TEST(ConfigRead, NumbersAndFlags) {
    struct Case {
        const char* pc_Line;
        std::int32_t s32_Watchdog;
    } const at_Cases[] = {
        {"watchdog_interval=30\n", 30},
        {"watchdog_interval= 30\n", 30},
        {"watchdog_interval=30s\n", 30},
        {"watchdog_interval=abc\n", 0},
        {"watchdog_interval=-5\n", -5},
        {"watchdog_interval=99999999999\n", INT32_MAX},
        {"watchdog_interval=-99999999999\n", INT32_MIN},
    };
    for (const Case& t_Case : at_Cases) {
        EXPECT_EQ(t_Case.s32_Watchdog, t_Read(t_Case.pc_Line).t_Config.s32_WatchdogInterval)
            << t_Case.pc_Line;
    }
    for (const char* pc_Flag :
         {"auto_set_system_time=0\n", "auto_set_system_time no\n", "auto_set_system_time"}) {
        EXPECT_EQ(1, t_Read(pc_Flag).t_Config.s32_AutoSetSystemTime) << pc_Flag;
    }
    EXPECT_EQ(0, t_Read("#auto_set_system_time=1\n").t_Config.s32_AutoSetSystemTime);
    const T_Config t_Rtc = t_Read("auto_set_rtc_time_interval=60\n").t_Config;
    EXPECT_EQ(1, t_Rtc.s32_AutoSetRtcTime); // the longer key's line matches too
    EXPECT_EQ(60, t_Rtc.s32_AutoSetRtcTimeInterval);
}

TEST(ConfigRead, GpsPortNumberAndText) {
    struct Case {
        const char* pc_Value;
        std::uint16_t u16_Port;
        const char* pc_Spec;
    } const at_Cases[] = {
        {"2947", 2947, ":2947"}, {"123456", 0, ""},    {"", 0, ":"},
        {"65536", 0, ":65536"},  {"abc", 0, ":abc"},   {"70000", 4464, ":70000"},
        {"12ab", 12, ":12ab"},   {"1:ab", 1, ":1:ab"},
    };
    for (const Case& t_Case : at_Cases) {
        const T_Config t_Config =
            t_Read(std::string("gps_tcp_port=") + t_Case.pc_Value + "\n").t_Config;
        EXPECT_EQ(t_Case.u16_Port, t_Config.u16_GpsTcpPort) << t_Case.pc_Value;
        EXPECT_STREQ(t_Case.pc_Spec, t_Config.acn_GpsSourceSpec) << t_Case.pc_Value;
    }
}

TEST(ConfigRead, LongRtcPathIsKeptWholeAndLeavesTheOtherFieldsIntact) {
    const std::string t_Path = "/dev/" + std::string(241, 'r'); // the longest value possible
    const T_Config t_Config = t_Read("RTC_path=" + t_Path +
                                     "\nLog_File=/l\nauto_set_rtc_time_interval=7\n"
                                     "gps_tcp_port=2948\nCMDOnWatchdog=cmd\n")
                                  .t_Config;
    EXPECT_EQ(t_Path, t_Config.acn_RtcPath);
    EXPECT_STREQ("/l", t_Config.acn_LogFile);
    EXPECT_STREQ("cmd", t_Config.acn_CmdOnWatchdog);
    EXPECT_EQ(7, t_Config.s32_AutoSetRtcTimeInterval);
    EXPECT_EQ(2948, t_Config.u16_GpsTcpPort);
    EXPECT_STREQ(":2948", t_Config.acn_GpsSourceSpec);
}

TEST(ConfigRead, CrLfFileGivesTheSameValues) {
    const T_Config t_Lf = t_Read("Log_File=/a b \nwatchdog_interval=4\n").t_Config;
    const T_Config t_CrLf = t_Read("Log_File=/a b \r\nwatchdog_interval=4\r\n").t_Config;
    EXPECT_STREQ("/a b ", t_CrLf.acn_LogFile);
    EXPECT_STREQ(t_Lf.acn_LogFile, t_CrLf.acn_LogFile);
    EXPECT_EQ(t_Lf.s32_WatchdogInterval, t_CrLf.s32_WatchdogInterval);
}

} // namespace
