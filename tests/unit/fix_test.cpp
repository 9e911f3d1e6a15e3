// The fix rule, and the gpsd port a configuration names.
#include "gps/fix_rule.h"
#include "gps/gpsd_connect.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr double kT = 1764505200.25;

// status, mode, satellites, time, latitude, longitude, altitude, track, speed (m/s)
constexpr T_GpsReport kFix3D{1, 3, 7, kT, 48.5, 11.5, 520.0, 90.0, 10.0};
constexpr T_GpsReport kMiss{0, 1, 0, NAN, NAN, NAN, NAN, NAN, NAN};

struct Tracker {
    T_GpsState t_State{};
    std::uint8_t u8_Miss = 0;
    // The state after folding the report, as one line.
    std::string t_Fold(const T_GpsReport& t_Report) {
        b_Fix_Fold(&t_State, &u8_Miss, t_Report);
        char acn_Line[256];
        std::snprintf(acn_Line, sizeof acn_Line, "%s/%s/%s v%u f%u %g %g %g %.2f %g %g s%u",
                      t_State.acn_Status, t_State.acn_Warn, t_State.acn_Quality, t_State.u8_Valid,
                      t_State.u8_FixType, t_State.f64_Latitude, t_State.f64_Longitude,
                      t_State.f64_Altitude, t_State.f64_Time, t_State.f64_Course, t_State.f64_Speed,
                      t_State.u8_Satellites);
        return acn_Line;
    }
};

TEST(FixRule, AFixTakesWhatItsModeSupplies) {
    const std::pair<T_GpsReport, std::string> at_Steps[] = {
        {kFix3D, "NMEA/A/1 v1 f2 48.5 11.5 520 1764505200.25 90 36 s7"},
        // 2D without latitude: no altitude, course or speed; the rest is taken
        {{1, 2, 5, kT + 1, NAN, 12.0, 1.0, 180.0, 1.0},
         "NMEA/A/1 v1 f1 48.5 12 520 1764505201.25 90 36 s5"},
        // 3D without track: altitude only; without a time the time stays
        {{1, 3, 7, NAN, 1.0, 2.0, 600.0, NAN, 99.0},
         "NMEA/A/1 v1 f2 1 2 600 1764505201.25 90 36 s7"},
        // 3D with a track and no speed: the speed is converted all the same
        {{1, 3, 300, kT, 48.5, 11.5, 520.0, 45.0, NAN},
         "NMEA/A/1 v1 f2 48.5 11.5 520 1764505200.25 45 nan s44"}};
    Tracker t_Tracker;
    for (const auto& [t_Report, t_Expected] : at_Steps) {
        EXPECT_EQ(t_Expected, t_Tracker.t_Fold(t_Report));
    }
}

TEST(FixRule, MissesFromTheStartMarkNoneWithZeroNumbers) {
    Tracker t_Fresh;
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ("// v0 f0 0 0 0 0.00 0 0 s0", t_Fresh.t_Fold(kMiss));
    }
    EXPECT_EQ("NONE/V/0 v0 f0 0 0 0 0.00 0 0 s0", t_Fresh.t_Fold(kMiss));
}

TEST(GpsdReport, ThePortIsTheConfiguredTextUpToAColonUnlessItsNumberIsZero) {
    const std::pair<const char*, const char*> at_Cases[] = {
        {nullptr, "2947"}, {"", "2947"},       {"0", "2947"},    {"abc", "2947"},
        {"65536", "2947"}, {"123456", "2947"}, {"2948", "2948"}, {"12ab", "12ab"},
        {"1:ab", "1"},     {"70000", "70000"}}; // 70000 is 4464 in 16 bits: not zero
    for (const auto& [pc_Value, pc_Port] : at_Cases) {
        std::string t_Text = "Log_File=/l\nRTC_path=/r\n";
        t_Text += pc_Value ? std::string("gps_tcp_port=") + pc_Value + "\n" : "";
        FILE* pt_File = fmemopen(t_Text.data(), t_Text.size(), "r");
        T_Config t_Config{};
        s32_Config_Read(pt_File, &t_Config);
        std::fclose(pt_File);
        char acn_Port[XLOCD_PORT_SIZE];
        v_GpsdConnect_Port(t_Config, acn_Port);
        EXPECT_STREQ(pc_Port, acn_Port) << (pc_Value ? pc_Value : "no key");
    }
}

} // namespace
