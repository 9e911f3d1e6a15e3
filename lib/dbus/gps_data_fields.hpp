// The twelve texts of T_DBUS_GPS_Data in the order of a GetGPSData reply and of a GPSData
// signal, for the programs that read them: the library's client call and xlocd-query.
#pragma once

#include "orb_client.h"

#include <array>
#include <cstring>

namespace orb {

struct GpsDataField {
    const char* pc_Name;                   // the record's field name
    charn (T_DBUS_GPS_Data::*pt_Text)[32]; // the field itself
};

constexpr std::array<GpsDataField, 12> kGpsDataFields = {{
    {"acn_status", &T_DBUS_GPS_Data::acn_status},
    {"acn_latitude", &T_DBUS_GPS_Data::acn_latitude},
    {"acn_longitude", &T_DBUS_GPS_Data::acn_longitude},
    {"acn_altitude", &T_DBUS_GPS_Data::acn_altitude},
    {"acn_time", &T_DBUS_GPS_Data::acn_time},
    {"acn_satellites", &T_DBUS_GPS_Data::acn_satellites},
    {"acn_quality", &T_DBUS_GPS_Data::acn_quality},
    {"acn_warn", &T_DBUS_GPS_Data::acn_warn},
    {"acn_speed", &T_DBUS_GPS_Data::acn_speed},
    {"acn_course", &T_DBUS_GPS_Data::acn_course},
    {"acn_date", &T_DBUS_GPS_Data::acn_date},
    {"acn_UTC", &T_DBUS_GPS_Data::acn_UTC},
}};

// Fills the record from a GetGPSData reply or a GPSData signal; false unless the
// message holds exactly twelve strings. A text longer than 31 characters is cut, the
// rest of its field zeroed, so that two records with the same texts compare equal.
inline bool b_FillGpsData(DBusMessage* pt_Message, T_DBUS_GPS_Data* pt_Data) noexcept {
    if (std::strcmp(dbus_message_get_signature(pt_Message), "ssssssssssss") != 0) {
        return false;
    }
    DBusMessageIter t_Iter;
    dbus_message_iter_init(pt_Message, &t_Iter);
    for (const GpsDataField& t_Field : kGpsDataFields) {
        const char* pc_Text = nullptr;
        dbus_message_iter_get_basic(&t_Iter, &pc_Text);
        charn(&acn_Field)[32] = pt_Data->*t_Field.pt_Text;
        std::memset(acn_Field, 0, sizeof acn_Field);
        std::memcpy(acn_Field, pc_Text, strnlen(pc_Text, sizeof acn_Field - 1));
        dbus_message_iter_next(&t_Iter);
    }
    return true;
}

} // namespace orb
