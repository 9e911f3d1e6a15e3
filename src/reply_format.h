// GetGPSData texts: the reply-text store and how the fix state refreshes it.
#pragma once

#include "fix_rule.h"
#include "orb_client.h"

// Kept from call to call: a field is rewritten only from a usable value. The widths
// are the design's, terminator included.
struct T_ReplyTexts {
    char acn_Latitude[16];
    char acn_Longitude[16];
    char acn_Altitude[16];
    char acn_Time[8];
    char acn_Satellites[4];
    char acn_Quality[4];
    char acn_Speed[12];
    char acn_Course[12];
    char acn_Date[8];
    char acn_UTC[16];
};

// A value whose text is "nan", or does not fit its field, leaves the field as it
// was. A fix time that cannot be broken down (infinite, -nan, beyond the time
// range) likewise leaves time, date and UTC as they were.
void v_Reply_Refresh(T_ReplyTexts* pt_Texts, const T_GpsState& t_State);

// Refreshes the store from the state, then gives the twelve texts: status and warning
// straight from the state, the rest from the store.
T_DBUS_GPS_Data t_Reply_Texts(T_ReplyTexts* pt_Texts, const T_GpsState& t_State);
