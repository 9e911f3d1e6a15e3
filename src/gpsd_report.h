// What libgps delivers (API 11, gpsd 3.22; API 14, gpsd 3.25), mapped to what the daemon's rules
// need.
#pragma once

#include "config.h"
#include "fix_rule.h"

#include <gps.h>

constexpr std::size_t XLOCD_PORT_SIZE = 16;

// Port text: "2947" when no port was configured, else the text after the first
// colon of acn_GpsSourceSpec up to the next colon (a device part is dropped).
void v_Gpsd_Port(const T_Config& t_Config, char (&acn_Port)[XLOCD_PORT_SIZE]);

T_GpsReport t_Gpsd_Report(const gps_data_t& t_Data);
