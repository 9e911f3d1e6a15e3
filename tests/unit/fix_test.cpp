#include "fix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

constexpr double kNaN = NAN;

T_GpsReport t_Fix3D(double f64_Lat = 48.5, double f64_Track = 90.0) {
    return {1, 3, 7, 1764505200.25, f64_Lat, 11.5, 520.0, f64_Track, 10.0};
}
T_GpsReport t_Miss() {
    return {0, 1, 0, kNaN, kNaN, kNaN, kNaN, kNaN, kNaN};
}

struct Tracker {
    T_GpsState t_State{};
    std::uint8_t u8_Miss = 0;
    bool b_Fold(const T_GpsReport& t_Report) { return b_Fix_Fold(&t_State, &u8_Miss, t_Report); }
    std::string t_Marks() const {
        return std::string(t_State.acn_Status) + "/" + t_State.acn_Warn + "/" +
               t_State.acn_Quality + "/" + std::to_string(t_State.u8_Valid) + "/" +
               std::to_string(t_State.u8_FixType);
    }
};

TEST(FixRule, StatusAndModeDecideWhatIsAFix) {
    struct Case {
        int s32_Status;
        int s32_Mode;
        bool b_Fix;
    } const at_Cases[] = {
        {1, 2, true},  {1, 3, true},  {2, 3, true},  {9, 2, true},
        {0, 3, false}, {1, 1, false}, {1, 0, false}, {0, 0, false},
    };
    for (const Case& t_Case : at_Cases) {
        Tracker t_Tracker;
        T_GpsReport t_Report = t_Fix3D();
        t_Report.s32_Status = t_Case.s32_Status;
        t_Report.s32_Mode = t_Case.s32_Mode;
        EXPECT_EQ(t_Case.b_Fix, t_Tracker.b_Fold(t_Report))
            << t_Case.s32_Status << "/" << t_Case.s32_Mode;
    }
}

TEST(FixRule, ThreeDimensionalFixCopiesEverything) {
    Tracker t_T;
    t_T.b_Fold(t_Fix3D());
    EXPECT_EQ("NMEA/A/1/1/2", t_T.t_Marks());
    EXPECT_EQ(48.5, t_T.t_State.f64_Latitude);
    EXPECT_EQ(11.5, t_T.t_State.f64_Longitude);
    EXPECT_EQ(520.0, t_T.t_State.f64_Altitude);
    EXPECT_EQ(1764505200.25, t_T.t_State.f64_Time);
    EXPECT_EQ(90.0, t_T.t_State.f64_Course);
    EXPECT_DOUBLE_EQ(36.0, t_T.t_State.f64_Speed); // 10 m/s in km/h
    EXPECT_EQ(7, t_T.t_State.u8_Satellites);
}

TEST(FixRule, NaNAndTwoDimensionalFixesKeepEarlierValues) {
    Tracker t_T;
    t_T.b_Fold(t_Fix3D());
    T_GpsReport t_2D = t_Fix3D(kNaN, 180.0);
    t_2D.s32_Mode = 2;
    t_2D.f64_Altitude = 1.0;
    t_T.b_Fold(t_2D);
    EXPECT_EQ("NMEA/A/1/1/1", t_T.t_Marks());
    EXPECT_EQ(48.5, t_T.t_State.f64_Latitude);
    EXPECT_EQ(520.0, t_T.t_State.f64_Altitude);
    EXPECT_EQ(90.0, t_T.t_State.f64_Course);

    T_GpsReport t_NoTrack = t_Fix3D(1.0, kNaN);
    t_NoTrack.f64_Speed = 99.0;
    t_NoTrack.f64_Altitude = 600.0;
    t_T.b_Fold(t_NoTrack);
    EXPECT_EQ(2, t_T.t_State.u8_FixType);
    EXPECT_EQ(600.0, t_T.t_State.f64_Altitude);
    EXPECT_EQ(90.0, t_T.t_State.f64_Course);
    EXPECT_DOUBLE_EQ(36.0, t_T.t_State.f64_Speed); // not updated without a track

    T_GpsReport t_NoSpeed = t_Fix3D(1.0, 45.0);
    t_NoSpeed.f64_Speed = kNaN;
    t_T.b_Fold(t_NoSpeed);
    EXPECT_TRUE(std::isnan(t_T.t_State.f64_Speed)); // converted even when NaN
}

TEST(FixRule, FifthConsecutiveMissMarksNoneAndKeepsThePosition) {
    Tracker t_T;
    t_T.b_Fold(t_Fix3D());
    for (int i = 1; i <= 4; ++i) {
        t_T.b_Fold(t_Miss());
        EXPECT_EQ("NMEA/A/1/1/2", t_T.t_Marks()) << "miss " << i;
    }
    for (int i = 5; i <= 8; ++i) {
        t_T.b_Fold(t_Miss());
        EXPECT_EQ("NONE/V/0/0/0", t_T.t_Marks()) << "miss " << i;
        EXPECT_EQ(4, t_T.u8_Miss);
    }
    EXPECT_EQ(48.5, t_T.t_State.f64_Latitude);
    EXPECT_EQ(7, t_T.t_State.u8_Satellites);
    t_T.b_Fold(t_Fix3D());
    EXPECT_EQ("NMEA/A/1/1/2", t_T.t_Marks());
    EXPECT_EQ(0, t_T.u8_Miss);
}

TEST(FixRule, MissesFromStartMarkNoneWithZeroNumbers) {
    Tracker t_T;
    for (int i = 0; i < 4; ++i) {
        t_T.b_Fold(t_Miss());
    }
    EXPECT_EQ("///0/0", t_T.t_Marks());
    t_T.b_Fold(t_Miss());
    EXPECT_EQ("NONE/V/0/0/0", t_T.t_Marks());
    EXPECT_EQ(0.0, t_T.t_State.f64_Latitude);
}

TEST(FixRule, SatellitesAreTheLowEightBits) {
    Tracker t_T;
    T_GpsReport t_Report = t_Fix3D();
    t_Report.s32_SatellitesUsed = 300;
    t_T.b_Fold(t_Report);
    EXPECT_EQ(44, t_T.t_State.u8_Satellites);
}

} // namespace
