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
    const std::pair<const char*, std::int32_t> at_Cases[] = {{"01.03.24_07:05:09", 1709276709},
                                                             {"01:03_24.07.05:09", 1709276709},
                                                             {nullptr, 0},
                                                             {"00.03.24_07:05:09", -10},
                                                             {"32.03.24_07:05:09", -10},
                                                             {"01-03-24_07:05:09", -1},
                                                             {"01.03.24_07:05", -1},
                                                             {"1.3.24_07:05:09", -1}};
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
