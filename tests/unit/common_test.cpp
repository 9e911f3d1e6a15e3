// The configuration reader and the log.
#include "config.h"
#include "log.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
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

const std::string kMissing = "<missing>";

std::string t_Lookup(const std::string& t_Text, const char* pc_Key) {
    TextFile t_File(t_Text);
    char acn_Value[256] = "untouched";
    const bool b_Found = s32_Config_GetValue(t_File.pt_File, pc_Key, acn_Value, 256) == 0;
    EXPECT_TRUE(b_Found || acn_Value[0] == '\0'); // made empty before the search
    return b_Found ? acn_Value : kMissing;
}

TEST(ConfigLookup, TheFirstLineThatBeginsWithTheKeyGivesWhatFollowsOneSeparator) {
    const char* k = "Log_File";
    // what, text, key, value
    const std::tuple<const char*, std::string, const char*, std::string> at_Cases[] = {
        {"'=' as the separator", "Log_File=/a.log\n", k, "/a.log"},
        {"a blank as the separator", "Log_File /a.log\n", k, "/a.log"},
        {"a longer word: its letter is the separator", "Log_Files=/x\n", k, "=/x"},
        {"a longer key: its rest is value", "auto_set_rtc_time_interval=5\n", "auto_set_rtc_time",
         "interval=5"},
        {"case matters", "log_file=/x\n", k, kMissing},
        {"a leading blank hides the line", " Log_File=/x\n", k, kMissing},
        {"CR LF: the CR goes, blanks stay", "Log_File=a \r\n", k, "a "},
        {"the last line without its LF", "x=1\nLog_File=/last", k, "/last"},
        {"the first of two lines", "Log_File=1st\nLog_File=2nd\n", k, "1st"},
        {"the key alone", "Log_File\n", k, ""},
        {"an empty file", "", k, kMissing},
        {"a long line: its first piece of 255", k + std::string("=") + std::string(291, 'a'), k,
         std::string(246, 'a')},
        {"a long line: a key at its second piece", std::string(255, '#') + "RTC_path=/r\n",
         "RTC_path", "/r"}};
    for (const auto& [pc_What, t_Text, pc_Key, t_Value] : at_Cases) {
        EXPECT_EQ(t_Value, t_Lookup(t_Text, pc_Key)) << pc_What;
    }
}

// A configuration read as start-up reads it, with what the reader printed.
struct Read {
    explicit Read(const std::string& t_Text) {
        TextFile t_File(t_Text);
        testing::internal::CaptureStdout();
        EXPECT_EQ(0, s32_Config_Read(t_File.pt_File, &t_C));
        t_Printed = testing::internal::GetCapturedStdout();
    }
    T_Config t_C{};
    std::string t_Printed;
};

const std::string kNoLog = "Error in config file. No valid Log_File found\n";
const std::string kNoRtc = "Did not find RTC path, using default at //dev//rtc0\n";
const std::string kQuiet = "Log_File=/l\nRTC_path=/r\n"; // neither line is printed

TEST(ConfigRead, AFileWithoutKeysGivesTheDefaults) {
    const T_Config t_C = Read("nothing\n").t_C;
    EXPECT_STREQ("", t_C.acn_LogFile);
    EXPECT_STREQ("signal01.beep", t_C.acn_CmdOnWatchdog);
    EXPECT_STREQ("//dev//rtc0", t_C.acn_RtcPath);
}

TEST(ConfigRead, EachMissingKeyPrintsItsLineAndAKeyWithoutValueCounts) {
    const std::pair<const char*, std::string> at_Cases[] = {{"nothing\n", kNoLog + kNoRtc},
                                                            {"RTC_path=/r\n", kNoLog},
                                                            {"Log_File=/l\n", kNoRtc},
                                                            {"Log_File\nRTC_path\n", ""}};
    for (const auto& [pc_Text, t_Printed] : at_Cases) {
        EXPECT_EQ(t_Printed, Read(pc_Text).t_Printed) << pc_Text;
    }
    const T_Config t_Empty = Read("CMDOnWatchdog=\nRTC_path\n").t_C; // not the defaults
    EXPECT_STREQ("", t_Empty.acn_CmdOnWatchdog);
    EXPECT_STREQ("", t_Empty.acn_RtcPath);
}

TEST(ConfigRead, IntervalsAreReadLikePercentDAndSaturate) {
    const std::pair<const char*, std::int32_t> at_Cases[] = {{"30", 30},
                                                             {" 30", 30},
                                                             {"30s", 30},
                                                             {"abc", 0},
                                                             {"-5", -5},
                                                             {"99999999999", INT_MAX},
                                                             {"-99999999999", INT_MIN}};
    for (const auto& [pc_Value, s32_Expected] : at_Cases) {
        const Read t_R(kQuiet + "watchdog_interval=" + pc_Value +
                       "\nauto_set_rtc_time_interval=" + pc_Value + "\n");
        EXPECT_EQ(s32_Expected, t_R.t_C.s32_WatchdogInterval) << pc_Value;
        EXPECT_EQ(s32_Expected, t_R.t_C.s32_AutoSetRtcTimeInterval) << pc_Value;
    }
}

TEST(ConfigRead, AClockFlagIsOnWhileItsLineIsThereWhateverItsValue) {
    const std::pair<const char*, std::int32_t> at_Cases[] = {{"auto_set_system_time=0\n", 1},
                                                             {"auto_set_system_time=no\n", 1},
                                                             {"auto_set_system_time\n", 1},
                                                             {"#auto_set_system_time=1\n", 0},
                                                             {" auto_set_system_time=1\n", 0}};
    for (const auto& [pc_Line, s32_On] : at_Cases) {
        EXPECT_EQ(s32_On, Read(kQuiet + pc_Line).t_C.s32_AutoSetSystemTime) << pc_Line;
    }
    EXPECT_EQ(1, Read(kQuiet + "auto_set_rtc_time_interval=5\n").t_C.s32_AutoSetRtcTime);
}

TEST(ConfigRead, TheLongestRtcPathIsTakenWhole) {
    const std::string t_Path = "/dev/" + std::string(241, 'r'); // the longest value possible
    EXPECT_EQ(t_Path, Read("Log_File=/l\nRTC_path=" + t_Path + "\n").t_C.acn_RtcPath);
}

TEST(ConfigRead, AnEmptyOrInvalidClockNotBeforeMeansTheBuildDate) {
    for (const char* pc_Value : {"", "2026-13-01"}) { // only the invalid one prints a line
        const Read t_R(kQuiet + "clock_not_before=" + pc_Value);
        EXPECT_EQ(*pc_Value != '\0', !t_R.t_Printed.empty());
        EXPECT_EQ(s64_Config_ParseDate(XLOCD_BUILD_DATE), t_R.t_C.s64_ClockNotBefore);
    }
}

TEST(ConfigDate, OnlyADateThatExistsWrittenExactlyAsYyyyMmDd) {
    const std::pair<const char*, std::int64_t> at_Dates[] = {
        {"1970-01-01", 0},          {"2000-02-29", 951782400},
        {"2024-02-29", 1709164800}, {"2026-12-06", 1796515200},
        {"2026-12-6", -1},          {"1969-12-31", -1},
        {"2026-12-06x", -1},        {"", -1},
        {"2026-02-30", -1},         {"2025-02-29", -1},
        {"2026- 3-01", -1},         {"+026-03-01", -1}};
    for (const auto& [pc_Date, s64_Expected] : at_Dates) {
        EXPECT_EQ(s64_Expected, s64_Config_ParseDate(pc_Date)) << pc_Date;
    }
}

const std::string kStamp = R"(\d\d\.\d\d\.\d\d_\d\d:\d\d:\d\d )"; // replaced by '#' below

// What the log holds after pf_Write ran on a log opened over an earlier run's line, read
// before the close (so every line must be flushed at once), stamps shown as '#'.
template <typename Writer> std::string t_Logged(Writer pf_Write) {
    char acn_Path[] = "/tmp/xlocd-log-XXXXXX";
    close(mkstemp(acn_Path));
    std::ofstream(acn_Path) << "earlier run\n";
    EXPECT_EQ(0, s32_Log_Open(acn_Path));
    pf_Write();
    std::stringstream t_Text;
    t_Text << std::ifstream(acn_Path).rdbuf();
    EXPECT_EQ(0, s32_Log_Close());
    std::remove(acn_Path);
    return std::regex_replace(t_Text.str(), std::regex(kStamp), "#");
}

TEST(Log, AppendsEachMessageStampedAndLiterally) {
    const auto pf_Write = [] {
        for (const char* pc_Message : {"Established", "100%s %d", "", "Streaming failed\n"}) {
            EXPECT_EQ(0, s32_Log_Write(pc_Message));
        }
    };
    EXPECT_EQ("earlier run\n#Established\n#100%s %d\n#\n#Streaming failed\n\n", t_Logged(pf_Write));
}

TEST(Log, AFormattedLineHasNoLengthCap) {
    const std::string t_Long(20000, 'x');
    EXPECT_EQ("earlier run\n#" + t_Long + ": end\n",
              t_Logged([&t_Long] { v_Log_Printf("%s: end", t_Long.c_str()); }));
}

TEST(Log, AStampThatIsNotOneParsesToItsCode) {
    setenv("TZ", "UTC", 1);
    tzset();
    const std::pair<const char*, std::int32_t> at_Cases[] = {{"01.03.24_07:05:09", 1709276709},
                                                             {"01:03_24.07.05:09", 1709276709},
                                                             {nullptr, 0},
                                                             {"32.03.24_07:05:09", -10},
                                                             {"01-03-24_07:05:09", -1},
                                                             {"01.03.24_07:05", -1},
                                                             {"1.3.24_07:05:09", -1}};
    for (const auto& [pc_Stamp, s32_Expected] : at_Cases) {
        EXPECT_EQ(s32_Expected, s32_Log_ParseTimeStamp(pc_Stamp)) << (pc_Stamp ? pc_Stamp : "null");
    }
}

} // namespace
