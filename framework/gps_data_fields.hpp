// The twelve texts of T_DBUS_GPS_Data in reply order, for code that walks them.
#pragma once

#include "orb_client.h"

#include <array>

namespace orb {

// char* for a mutable record, const char* for a const one.
template <typename Data> auto at_GpsDataFields(Data& t_Data) {
    using Text = decltype(&t_Data.acn_status[0]);
    return std::array<Text, 12>{
        t_Data.acn_status, t_Data.acn_latitude,   t_Data.acn_longitude, t_Data.acn_altitude,
        t_Data.acn_time,   t_Data.acn_satellites, t_Data.acn_quality,   t_Data.acn_warn,
        t_Data.acn_speed,  t_Data.acn_course,     t_Data.acn_date,      t_Data.acn_UTC,
    };
}

} // namespace orb
