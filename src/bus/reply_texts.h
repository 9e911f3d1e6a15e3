// GetGPSData texts: the reply-text store, how the fix state refreshes it, and the
// twelve texts in reply order, which the reply, the GPSData signal and introspection
// all walk.
#pragma once

#include "gps/gps_records.h"

#include <array>
#include <cstddef>

// Kept from call to call: a field is rewritten only from a usable value; status and
// warning are the state's own, copied at every refresh. The widths are the design's,
// terminator included.
struct T_ReplyTexts {
    char acn_Status[5];
    char acn_Warn[2];
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

// The twelve texts in reply order, each zero-padded to the 32 bytes of a client's
// field, so that two rows with the same texts compare equal.
using T_ReplyRow = std::array<std::array<char, 32>, 12>;

struct T_ReplyField {
    const char* pc_Name; // the client record's field name, as introspection shows it
    const char* (*pf_Text)(const T_ReplyTexts& t_Texts);
};
extern const std::array<T_ReplyField, 12> kReplyFields;

// Refreshes the store from the state, then gives the twelve texts.
T_ReplyRow t_Reply_Row(T_ReplyTexts* pt_Texts, const T_GpsState& t_State);
