// The configuration reader and the log.
#include "config.h"
#include "log.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <tuple>

namespace {

// The text as an open file positioned anywhere, as start-up hands it to the reader.
struct TextFile {
    explicit TextFile(const std::string& t_Text) : pt_File(std::tmpfile()) {
        std::fwrite(t_Text.data(), 1, t_Text.size(), pt_File);
        std::fseek(pt_File, 7 % (t_Text.size() + 1), SEEK_SET);
    }
    ~TextFile() { std::fclose(pt_File); }
    FILE* pt_File;
};

std::string t_Lookup(const std::string& t_Text, const char* pc_Key) {
    TextFile t_File(t_Text);
    char acn_Value[256] = "untouched";
    const bool b_Found = s32_Config_GetValue(t_File.pt_File, pc_Key, acn_Value, 256) == 0;
    return b_Found ? acn_Value : "<missing:" + std::string(acn_Value) + ">";
}

TEST(ConfigLookup, LineRules) {
    const char* pc_L = "Log_File";
    // clang-format off
    const std::tuple<std::string, const char*, std::string> at_Cases[] = {
        {"Log_File = /a.log\n", pc_L, "= /a.log"}, {"Log_File=/a.log\n", pc_L, "/a.log"},
        {"Log_File /a.log\n", pc_L, "/a.log"}, {"Log_Files=/tmp/x\n", pc_L, "=/tmp/x"},
        {"log_file=/tmp/x\n", pc_L, "<missing:>"}, {" Log_File=/tmp/x\n", pc_L, "<missing:>"},
        {"Log_File=a \r\n", pc_L, "a "}, {"Log_File=a\r\r\n", pc_L, "a\r"},
        {"x=1\nLog_File=/last", pc_L, "/last"}, {"Log_File=1st\nLog_File=2nd\n", pc_L, "1st"},
        {"Log_File\n", pc_L, ""}, {"Log_File", pc_L, ""}, {"", pc_L, "<missing:>"},
        {"auto_set_rtc_time_interval=5\n", "auto_set_rtc_time", "interval=5"},
        {"Log_File=" + std::string(291, 'a') + "\n", pc_L, std::string(246, 'a')}, // 255 a piece
        {std::string(255, '#') + "RTC_path=/dev/x\n", "RTC_path", "/dev/x"}};
    // clang-format on
    for (const auto& [t_Text, pc_Key, t_Expected] : at_Cases) {
        EXPECT_EQ(t_Expected, t_Lookup(t_Text, pc_Key)) << t_Text;
    }
}

TEST(ConfigLookup, ArgumentsSizesAndNextValue) {
    TextFile t_File("k=1\nother\nk=2\n");
    char acn_Value[8] = "keep";
    EXPECT_EQ(-1, s32_Config_GetValue(nullptr, "k", acn_Value, 8));
    EXPECT_EQ(-1, s32_Config_GetValue(t_File.pt_File, nullptr, acn_Value, 8));
    EXPECT_EQ(-1, s32_Config_GetValue(t_File.pt_File, "k", nullptr, 8));
    EXPECT_EQ(-1, s32_Config_GetValue(t_File.pt_File, "k", acn_Value, 0));
    EXPECT_EQ(-1, s32_Config_GetValue(t_File.pt_File, "k", acn_Value, 1));
    EXPECT_STREQ("keep", acn_Value);
    EXPECT_EQ(-1, s32_Config_GetValue(t_File.pt_File, "other", acn_Value, 2)); // 1-char pieces
    std::string t_Seen;
    for (std::int32_t s32_Result = s32_Config_GetValue(t_File.pt_File, "k", acn_Value, 8);
         s32_Result == 0; s32_Result = s32_Config_GetNextValue(t_File.pt_File, "k", acn_Value, 8)) {
        t_Seen += acn_Value;
    }
    EXPECT_EQ("12", t_Seen);
    char acn_Dest[6] = "xxxxx";
    EXPECT_EQ(8u, u32_StrCopy(acn_Dest, "abcdefgh", 6));
    EXPECT_STREQ("abcde", acn_Dest);
    EXPECT_EQ(2u, u32_StrCopy(acn_Dest, "zz", 0));
    EXPECT_STREQ("abcde", acn_Dest);
}

// The fields that differ from an empty file's, then what the reader printed.
std::string t_Read(const std::string& t_Text) {
    TextFile t_File(t_Text);
    T_Config t_C{};
    testing::internal::CaptureStdout();
    EXPECT_EQ(0, s32_Config_Read(t_File.pt_File, &t_C));
    const auto t_N = [](auto x_Number) { return std::to_string(x_Number); };
    // clang-format off
    const std::string at_Fields[][3] = { // name, value, an empty file's value
        {"log", t_C.acn_LogFile, ""}, {"cmd", t_C.acn_CmdOnWatchdog, "signal01.beep"},
        {"wd", t_N(t_C.s32_WatchdogInterval), "0"}, {"sys", t_N(t_C.s32_AutoSetSystemTime), "0"},
        {"rtc", t_N(t_C.s32_AutoSetRtcTime), "0"}, {"path", t_C.acn_RtcPath, "//dev//rtc0"},
        {"every", t_N(t_C.s32_AutoSetRtcTimeInterval), "0"},
        {"port", t_N(t_C.u16_GpsTcpPort) + t_C.acn_GpsSourceSpec, "0"},
        {"rc", t_N(t_C.s32_GpsdReconnect), "0"}, {"age", t_N(t_C.s32_FixMaxAge), "0"},
        {"min", t_N(t_C.s32_ClockMinFixes), "0"}, {"nb", t_N(t_C.s64_ClockNotBefore), "0"},
        {"sig", t_N(t_C.s32_GpsDataSignal), "0"}, {"intro", t_N(t_C.s32_Introspection), "0"}};
    // clang-format on
    std::string t_Out;
    for (const auto& at_Field : at_Fields) {
        t_Out += at_Field[1] == at_Field[2] ? "" : at_Field[0] + "=" + at_Field[1] + " ";
    }
    return t_Out + "| " + testing::internal::GetCapturedStdout();
}

TEST(ConfigRead, DefaultsMessagesNumbersFlagsAndPorts) {
    const std::string t_Path = "/dev/" + std::string(241, 'r'); // the longest value possible
    const std::string t_NoLog = "Error in config file. No valid Log_File found\n";
    const std::string t_NoRtc = "Did not find RTC path, using default at //dev//rtc0\n";
    const std::string t_Q = "Log_File=/l\nRTC_path=/r\n"; // silences both messages
    const std::string t_LP = "log=/l path=/r ";
    const std::pair<std::string, std::string> at_Cases[] = {
        {"nothing\n", "| " + t_NoLog + t_NoRtc},
        {"Log_File\nCMDOnWatchdog=\nRTC_path\n", "cmd= path= | "},
        {"RTC_path=/r\n", "path=/r | " + t_NoLog},
        {"Log_File=/l\n", "log=/l | " + t_NoRtc},
        {t_Q + "watchdog_interval= 30s\n", "log=/l wd=30 path=/r | "},
        {t_Q + "watchdog_interval=abc\n", t_LP + "| "},
        {t_Q + "watchdog_interval=-5\nauto_set_rtc_time_interval=99999999999\n",
         "log=/l wd=-5 rtc=1 path=/r every=2147483647 | "},
        {t_Q + "watchdog_interval=-99999999999\n", "log=/l wd=-2147483648 path=/r | "},
        {t_Q + "auto_set_system_time=0\nauto_set_rtc_time\n", "log=/l sys=1 rtc=1 path=/r | "},
        {t_Q + "#auto_set_system_time=1\n", t_LP + "| "},
        {t_Q + "gps_tcp_port=2947\n", t_LP + "port=2947:2947 | "},
        {t_Q + "gps_tcp_port=123456\n", t_LP + "| "},
        {t_Q + "gps_tcp_port=\n", t_LP + "port=0: | "},
        {t_Q + "gps_tcp_port=65536\n", t_LP + "port=0:65536 | "},
        {t_Q + "gps_tcp_port=70000\n", t_LP + "port=4464:70000 | "},
        {t_Q + "gps_tcp_port=1:ab\n", t_LP + "port=1:1:ab | "},
        {"Log_File=/a b \r\nwatchdog_interval=4\r\nRTC_path=/r\r\n", "log=/a b  wd=4 path=/r | "},
        {"RTC_path=" + t_Path + "\nLog_File=/l\nauto_set_rtc_time_interval=7\ngps_tcp_port=2948\n",
         "log=/l rtc=1 path=" + t_Path + " every=7 port=2948:2948 | "},
        {t_Q + "gpsd_reconnect=5\nfix_max_age=3\nclock_min_fixes=4\n"
               "clock_not_before=2026-01-01\ngps_data_signal=1\nintrospection=1\n",
         t_LP + "rc=5 age=3 min=4 nb=1767225600 sig=1 intro=1 | "}};
    for (const auto& [t_Text, t_Expected] : at_Cases) {
        EXPECT_EQ(t_Expected, t_Read(t_Text)) << t_Text;
    }
}

TEST(ConfigRead, ClockNotBeforeDates) {
    for (const char* pc_Value : {"", "2026-13-01"}) { // the build date, once with a message
        TextFile t_File("Log_File=/l\nRTC_path=/r\nclock_not_before=" + std::string(pc_Value));
        T_Config t_C{};
        testing::internal::CaptureStdout();
        s32_Config_Read(t_File.pt_File, &t_C);
        EXPECT_EQ(*pc_Value != '\0', !testing::internal::GetCapturedStdout().empty());
        EXPECT_EQ(s64_Config_ParseDate(XLOCD_BUILD_DATE), t_C.s64_ClockNotBefore);
    }
    const std::pair<const char*, std::int64_t> at_Dates[] = {
        {"1970-01-01", 0},  {"2000-02-29", 951782400}, {"2026-12-06", 1796515200},
        {"2026-12-6", -1},  {"1969-12-31", -1},        {"2026-12-06x", -1},
        {"", -1},           {"2026-02-30", -1},        {"2025-02-29", -1},
        {"2026- 3-01", -1}, {"+026-03-01", -1},        {"2024-02-29", 1709164800}};
    for (const auto& [pc_Date, s64_Expected] : at_Dates) {
        EXPECT_EQ(s64_Expected, s64_Config_ParseDate(pc_Date)) << pc_Date;
    }
}

const std::string kStamp = R"(\d\d\.\d\d\.\d\d_\d\d:\d\d:\d\d )";

TEST(Log, AppendsStampedLinesLiterallyFlushedAndWithoutALengthCap) {
    char acn_Path[] = "/tmp/xlocd-log-XXXXXX";
    close(mkstemp(acn_Path));
    std::ofstream(acn_Path) << "earlier run\n";
    ASSERT_EQ(0, s32_Log_Open(acn_Path));
    for (const char* pc_Message :
         {"Established connection to gpsd", "100%s %d", "", "Streaming GPS data failed\n"}) {
        EXPECT_EQ(0, s32_Log_Write(pc_Message));
    }
    const std::string t_Long(20000, 'x');
    v_Log_Printf("%s: end", t_Long.c_str());
    std::stringstream t_Text; // read before the close: every line is flushed at once
    t_Text << std::ifstream(acn_Path).rdbuf();
    EXPECT_TRUE(std::regex_match(
        t_Text.str(), std::regex("earlier run\n" + kStamp + "Established connection to gpsd\n" +
                                 kStamp + "100%s %d\n" + kStamp + "\n" + kStamp +
                                 "Streaming GPS data failed\n\n" + kStamp + t_Long + ": end\n")))
        << t_Text.str().substr(0, 300);
    EXPECT_EQ(0, s32_Log_Close());
    EXPECT_EQ(-1, s32_Log_Close());
    std::remove(acn_Path);
}

TEST(Log, StampsAndTheirParse) {
    char acn_Local[XLOCD_STAMP_SIZE];
    char acn_Utc[XLOCD_STAMP_SIZE];
    EXPECT_TRUE(std::regex_match(pc_Log_LocalTimeStamp(acn_Local),
                                 std::regex(kStamp.substr(0, kStamp.size() - 1))));
    EXPECT_TRUE(std::regex_match(pc_Log_UtcTimeStamp(acn_Utc), std::regex(R"(20\d{6}T\d{6}Z)")));
    EXPECT_NEAR(static_cast<double>(std::time(nullptr)), s32_Log_ParseTimeStamp(acn_Local), 2.0);
    setenv("TZ", "UTC", 1);
    tzset();
    // clang-format off
    const std::pair<const char*, std::int32_t> at_Cases[] = {
        {"01.03.24_07:05:09", 1709276709}, {"01:03_24.07.05:09", 1709276709}, {nullptr, 0},
        {"00.03.24_07:05:09", -10}, {"32.03.24_07:05:09", -10}, {"01-03-24_07:05:09", -1},
        {"01.03.24_07:05", -1}, {"1.3.24_07:05:09", -1}};
    // clang-format on
    for (const auto& [pc_Stamp, s32_Expected] : at_Cases) {
        EXPECT_EQ(s32_Expected, s32_Log_ParseTimeStamp(pc_Stamp)) << (pc_Stamp ? pc_Stamp : "null");
    }
}

TEST(Log, WriteStringWritesWithoutTerminatorOrLineFeed) {
    FILE* pt_File = std::tmpfile();
    EXPECT_EQ(-1, s32_File_WriteString(nullptr, "x"));
    EXPECT_EQ(-1, s32_File_WriteString(pt_File, nullptr));
    EXPECT_EQ(-10, s32_File_WriteString(pt_File, ""));
    EXPECT_EQ(0, s32_File_WriteString(pt_File, "ab"));
    EXPECT_EQ(0, s32_File_WriteString(pt_File, std::string(65536 + 3, 'z').c_str())); // modulo
    EXPECT_EQ(5, std::ftell(pt_File));
    std::fclose(pt_File);
}

} // namespace
