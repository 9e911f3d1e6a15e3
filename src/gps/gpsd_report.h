// What libgps delivers (API 11, gpsd 3.22; API 14, gpsd 3.25), mapped to what the daemon's rules
// need.
#pragma once

#include "gps/gps_records.h"

#include <gps.h>

T_GpsReport t_Gpsd_Report(const gps_data_t& t_Data);
