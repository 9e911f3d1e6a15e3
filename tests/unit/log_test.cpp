#include "log.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

namespace {

std::string t_ReadFile(const std::string& t_Path) {
    std::ifstream t_In(t_Path);
    std::stringstream t_Out;
    t_Out << t_In.rdbuf();
    return t_Out.str();
}

class LogFile : public testing::Test {
  protected:
    void SetUp() override {
        char acn_Template[] = "/tmp/xlocd-log-XXXXXX";
        close(mkstemp(acn_Template));
        t_Path = acn_Template;
    }
    void TearDown() override {
        s32_Log_Close();
        std::remove(t_Path.c_str());
    }
    std::string t_Path;
};

TEST_F(LogFile, WritesStampedLinesLiterallyAndAppends) {
    { std::ofstream(t_Path) << "earlier run\n"; }
    ASSERT_EQ(0, s32_Log_Open(t_Path.c_str()));
    for (const char* pc_Message :
         {"Established connection to gpsd", "100%s %d", "", "Streaming GPS data failed\n"}) {
        EXPECT_EQ(0, s32_Log_Write(pc_Message));
    }
    const std::string t_Stamp = R"(\d\d\.\d\d\.\d\d_\d\d:\d\d:\d\d )";
    const std::regex t_Expected("earlier run\n" + t_Stamp + "Established connection to gpsd\n" +
                                t_Stamp + "100%s %d\n" + t_Stamp + "\n" + t_Stamp +
                                "Streaming GPS data failed\n\n");
    // Flushed at once: readable before the log is closed.
    EXPECT_TRUE(std::regex_match(t_ReadFile(t_Path), t_Expected)) << t_ReadFile(t_Path);
    EXPECT_EQ(0, s32_Log_Close());
    EXPECT_EQ(-1, s32_Log_Close());
}

TEST_F(LogFile, FormattedLinesHaveNoLengthCap) {
    ASSERT_EQ(0, s32_Log_Open(t_Path.c_str()));
    const std::string t_Long(20000, 'x');
    v_Log_Printf("%s: end", t_Long.c_str());
    const std::string t_Text = t_ReadFile(t_Path);
    EXPECT_EQ(18 + t_Long.size() + 6, t_Text.size());
    EXPECT_EQ(t_Long + ": end\n", t_Text.substr(18));
}

TEST_F(LogFile, WithoutAnOpenLogLinesGoToStandardOutput) {
    testing::internal::CaptureStdout();
    s32_Log_Write("to stdout");
    std::fflush(stdout);
    const std::string t_Out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(
        std::regex_match(t_Out, std::regex(R"(\d\d\.\d\d\.\d\d_\d\d:\d\d:\d\d to stdout\n)")))
        << t_Out;
}

TEST(LogOpen, FailurePrintsItsLineAndLeavesNoLogOpen) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(-1, s32_Log_Open("/nonexistent-dir/x.log"));
    EXPECT_EQ("Can not open log file '/nonexistent-dir/x.log' to write to.\n",
              testing::internal::GetCapturedStdout());
    EXPECT_EQ(-1, s32_Log_Close());
}

TEST(LogStamp, LocalAndUtcStampsHaveTheirShapes) {
    char acn_Local[XLOCD_STAMP_SIZE];
    char acn_Utc[XLOCD_STAMP_SIZE];
    EXPECT_EQ(17u, std::strlen(pc_Log_LocalTimeStamp(acn_Local)));
    EXPECT_TRUE(std::regex_match(pc_Log_UtcTimeStamp(acn_Utc), std::regex(R"(20\d{6}T\d{6}Z)")));
    // The local stamp reads back to the current time (within a second or two).
    const std::int32_t s32_Back = s32_Log_ParseTimeStamp(acn_Local);
    EXPECT_NEAR(static_cast<double>(std::time(nullptr)), s32_Back, 2.0);
}

TEST(LogStamp, ParseRejectsWhatIsNotAStamp) {
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_EQ(1709276709, s32_Log_ParseTimeStamp("01.03.24_07:05:09"));
    EXPECT_EQ(1709276709, s32_Log_ParseTimeStamp("01:03_24.07.05:09"));
    EXPECT_EQ(0, s32_Log_ParseTimeStamp(nullptr));
    EXPECT_EQ(-10, s32_Log_ParseTimeStamp("00.03.24_07:05:09"));
    EXPECT_EQ(-10, s32_Log_ParseTimeStamp("32.03.24_07:05:09"));
    EXPECT_EQ(-1, s32_Log_ParseTimeStamp("01-03-24_07:05:09"));
    EXPECT_EQ(-1, s32_Log_ParseTimeStamp("01.03.24_07:05"));
    EXPECT_EQ(-1, s32_Log_ParseTimeStamp("1.3.24_07:05:09"));
}

TEST(FileWriteString, WritesWithoutTerminatorOrLineFeed) {
    FILE* pt_File = std::tmpfile();
    EXPECT_EQ(-1, s32_File_WriteString(nullptr, "x"));
    EXPECT_EQ(-1, s32_File_WriteString(pt_File, nullptr));
    EXPECT_EQ(-10, s32_File_WriteString(pt_File, ""));
    EXPECT_EQ(0, s32_File_WriteString(pt_File, "ab"));
    const std::string t_Long(65536 + 3, 'z'); // length taken modulo 65536
    EXPECT_EQ(0, s32_File_WriteString(pt_File, t_Long.c_str()));
    EXPECT_EQ(5, std::ftell(pt_File));
    std::fclose(pt_File);
}

} // namespace
