#include "gpsd_report.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

gps_data_t t_Data(int s32_Status, int s32_Mode) {
    gps_data_t t_D{};
    gps_clear_fix(&t_D.fix);
    t_D.fix.status = s32_Status;
    t_D.fix.mode = s32_Mode;
    t_D.set = STATUS_SET | MODE_SET; // libgps 3.22 sets both for every TPV
    return t_D;
}

TEST(GpsdReport, StatusFromWhatLibgps322Delivers) {
    struct Case {
        int s32_Status;
        int s32_Mode;
        int s32_Derived;
    } const at_Cases[] = {
        {STATUS_NO_FIX, MODE_3D, STATUS_FIX}, // ordinary fix: gpsd sends no status
        {STATUS_NO_FIX, MODE_2D, STATUS_FIX},          {STATUS_NO_FIX, MODE_NO_FIX, STATUS_NO_FIX},
        {STATUS_NO_FIX, MODE_NOT_SEEN, STATUS_NO_FIX}, {STATUS_DGPS_FIX, MODE_3D, STATUS_DGPS_FIX},
        {STATUS_FIX, MODE_NO_FIX, STATUS_FIX}, // stays a miss through the mode
    };
    for (const Case& t_Case : at_Cases) {
        EXPECT_EQ(t_Case.s32_Derived,
                  t_Gpsd_Report(t_Data(t_Case.s32_Status, t_Case.s32_Mode)).s32_Status)
            << t_Case.s32_Status << "/" << t_Case.s32_Mode;
    }
}

TEST(GpsdReport, TimeAltitudeAndUnsetValues) {
    gps_data_t t_D = t_Data(0, MODE_3D);
    EXPECT_TRUE(std::isnan(t_Gpsd_Report(t_D).f64_Time)); // unset time is not supplied
    t_D.fix.time = {1764505200, 250000000};
    t_D.fix.altitude = 1.0; // deprecated, never read
    t_D.fix.altMSL = 521.6;
    t_D.satellites_used = 9;
    const T_GpsReport t_R = t_Gpsd_Report(t_D);
    EXPECT_DOUBLE_EQ(1764505200.25, t_R.f64_Time);
    EXPECT_EQ(521.6, t_R.f64_Altitude);
    EXPECT_EQ(9, t_R.s32_SatellitesUsed);
    EXPECT_TRUE(std::isnan(t_R.f64_Latitude)); // gps_clear_fix leaves NaN
}

TEST(GpsdPort, EndpointRule) {
    struct Case {
        std::uint16_t u16_Port;
        const char* pc_Spec;
        const char* pc_Port;
    } const at_Cases[] = {
        {0, "", "2947"},       {0, ":0", "2947"},         {0, ":abc", "2947"},
        {0, ":65536", "2947"}, {2948, ":2948", "2948"},   {12, ":12ab", "12ab"},
        {1, ":1:ab", "1"},     {4464, ":70000", "70000"},
    };
    for (const Case& t_Case : at_Cases) {
        T_Config t_Config{};
        t_Config.u16_GpsTcpPort = t_Case.u16_Port;
        std::snprintf(t_Config.acn_GpsSourceSpec, sizeof t_Config.acn_GpsSourceSpec, "%s",
                      t_Case.pc_Spec);
        char acn_Port[XLOCD_PORT_SIZE];
        v_Gpsd_Port(t_Config, acn_Port);
        EXPECT_STREQ(t_Case.pc_Port, acn_Port) << t_Case.pc_Spec;
    }
}

} // namespace
