// The twelve texts of T_DBUS_GPS_Data in reply order, for code that walks them:
// the GetGPSData reply, the GPSData signal, introspection and xlocd-query.
#pragma once

#include "orb_client.h"

#include <array>
#include <cstdio>
#include <cstring>

namespace orb {

// Where xlocd serves its data: bus name and interface, and its object path.
constexpr const char* kXlocdName = "zel.orb.xlocd";
constexpr const char* kXlocdPath = "/zel/orb/xlocd/Object";

constexpr std::array<const char*, 12> kGpsDataNames = {
    "acn_status",  "acn_latitude", "acn_longitude", "acn_altitude", "acn_time", "acn_satellites",
    "acn_quality", "acn_warn",     "acn_speed",     "acn_course",   "acn_date", "acn_UTC"};

// char* for a mutable record, const char* for a const one.
template <typename Data> auto at_GpsDataFields(Data& t_Data) {
    using Text = decltype(&t_Data.acn_status[0]);
    return std::array<Text, 12>{
        t_Data.acn_status, t_Data.acn_latitude,   t_Data.acn_longitude, t_Data.acn_altitude,
        t_Data.acn_time,   t_Data.acn_satellites, t_Data.acn_quality,   t_Data.acn_warn,
        t_Data.acn_speed,  t_Data.acn_course,     t_Data.acn_date,      t_Data.acn_UTC,
    };
}

// Fills the record from a GetGPSData reply or a GPSData signal; false unless the
// message holds exactly twelve strings. Texts longer than 31 characters are cut.
inline bool b_FillGpsData(DBusMessage* pt_Message, T_DBUS_GPS_Data* pt_Data) noexcept {
    if (std::strcmp(dbus_message_get_signature(pt_Message), "ssssssssssss") != 0) {
        return false;
    }
    DBusMessageIter t_Iter;
    dbus_message_iter_init(pt_Message, &t_Iter);
    for (char* pc_Field : at_GpsDataFields(*pt_Data)) {
        const char* pc_Text = nullptr;
        dbus_message_iter_get_basic(&t_Iter, &pc_Text);
        std::snprintf(pc_Field, sizeof pt_Data->acn_status, "%s", pc_Text);
        dbus_message_iter_next(&t_Iter);
    }
    return true;
}

} // namespace orb
