#include "gpsd_report.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <vector>

namespace {

TEST(GpsdReport, WhatLibgps322DeliversMapsToTheFixRuleInputs) {
    // gpsd sends no status for an ordinary fix, and libgps then reads 0.
    const int as32_Cases[][3] = {
        {STATUS_NO_FIX, MODE_3D, STATUS_FIX},        {STATUS_NO_FIX, MODE_2D, STATUS_FIX},
        {STATUS_NO_FIX, MODE_NO_FIX, STATUS_NO_FIX}, {STATUS_NO_FIX, MODE_NOT_SEEN, STATUS_NO_FIX},
        {STATUS_DGPS_FIX, MODE_3D, STATUS_DGPS_FIX}, {STATUS_FIX, MODE_NO_FIX, STATUS_FIX}};
    for (const auto& as32_Case : as32_Cases) {
        gps_data_t t_D{};
        gps_clear_fix(&t_D.fix);
        t_D.fix.status = as32_Case[0];
        t_D.fix.mode = as32_Case[1];
        EXPECT_EQ(as32_Case[2], t_Gpsd_Report(t_D).s32_Status) << as32_Case[0] << as32_Case[1];
    }
    gps_data_t t_D{};
    gps_clear_fix(&t_D.fix);
    EXPECT_TRUE(std::isnan(t_Gpsd_Report(t_D).f64_Time)); // an unset time is not supplied
    t_D.fix.time = {1764505200, 250000000};
    t_D.fix.mode = MODE_3D;
    t_D.fix.latitude = 1.5;
    t_D.fix.longitude = 2.5;
    t_D.fix.altitude = 9.0; // deprecated and never read: altMSL is the altitude
    t_D.fix.altMSL = 521.6;
    t_D.fix.track = 4.5;
    t_D.fix.speed = 5.5;
    t_D.satellites_used = 9;
    const T_GpsReport t_R = t_Gpsd_Report(t_D);
    EXPECT_EQ((std::vector<double>{1764505200.25, 1.5, 2.5, 521.6, 4.5, 5.5, 9, 3}),
              (std::vector<double>{t_R.f64_Time, t_R.f64_Latitude, t_R.f64_Longitude,
                                   t_R.f64_Altitude, t_R.f64_Track, t_R.f64_Speed,
                                   static_cast<double>(t_R.s32_SatellitesUsed),
                                   static_cast<double>(t_R.s32_Mode)}));
}

TEST(GpsdReport, EndpointRule) {
    const std::tuple<std::uint16_t, const char*, const char*> at_Cases[] = {
        {0, "", "2947"},       {0, ":0", "2947"}, {0, ":65536", "2947"},    {2948, ":2948", "2948"},
        {12, ":12ab", "12ab"}, {1, ":1:ab", "1"}, {4464, ":70000", "70000"}};
    for (const auto& [u16_Port, pc_Spec, pc_Port] : at_Cases) {
        T_Config t_Config{};
        t_Config.u16_GpsTcpPort = u16_Port;
        std::snprintf(t_Config.acn_GpsSourceSpec, sizeof t_Config.acn_GpsSourceSpec, "%s", pc_Spec);
        char acn_Port[XLOCD_PORT_SIZE];
        v_Gpsd_Port(t_Config, acn_Port);
        EXPECT_STREQ(pc_Port, acn_Port) << pc_Spec;
    }
}

} // namespace
