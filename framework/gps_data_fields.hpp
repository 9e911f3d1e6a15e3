// The twelve texts of T_DBUS_GPS_Data in reply order, in one table: the GetGPSData
// reply, the GPSData signal, introspection and xlocd-query all walk it.
#pragma once

#include "orb_client.h"

#include <array>
#include <cstdio>
#include <cstring>

namespace orb {

// Where xlocd serves its data: bus name and interface, and its object path.
constexpr const char* kXlocdName = "zel.orb.xlocd";
constexpr const char* kXlocdPath = "/zel/orb/xlocd/Object";

struct GpsDataField {
    const char* pc_Name;                   // the record's field name, as introspection shows it
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

// Sets a field to a text, cut to 31 characters, the rest of the field zeroed, so that
// two records with the same texts compare equal byte for byte.
inline void v_SetGpsText(charn (&acn_Field)[32], const char* pc_Text) noexcept {
    std::memset(acn_Field, 0, sizeof acn_Field);
    std::memcpy(acn_Field, pc_Text, strnlen(pc_Text, sizeof acn_Field - 1));
}

// Fills the record from a GetGPSData reply or a GPSData signal; false unless the
// message holds exactly twelve strings. Texts longer than 31 characters are cut.
inline bool b_FillGpsData(DBusMessage* pt_Message, T_DBUS_GPS_Data* pt_Data) noexcept {
    if (std::strcmp(dbus_message_get_signature(pt_Message), "ssssssssssss") != 0) {
        return false;
    }
    DBusMessageIter t_Iter;
    dbus_message_iter_init(pt_Message, &t_Iter);
    for (const GpsDataField& t_Field : kGpsDataFields) {
        const char* pc_Text = nullptr;
        dbus_message_iter_get_basic(&t_Iter, &pc_Text);
        v_SetGpsText(pt_Data->*t_Field.pt_Text, pc_Text);
        dbus_message_iter_next(&t_Iter);
    }
    return true;
}

} // namespace orb
