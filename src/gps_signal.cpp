// The texts are made by GetGPSData's rules from a store of the signal's own: the
// reply's store keeps texts from call to call, and refreshing it here after every
// fold would change what GetGPSData answers.
#include "gps_signal.h"

#include "bus_messages.hpp"
#include "fix_state.h"
#include "gps_data_fields.hpp"
#include "reply_format.h"
#include "xlocd.h"

#include <cstring>

namespace {

T_ReplyTexts gt_SignalTexts;
T_DBUS_GPS_Data gt_LastSent; // what subscribers saw last
std::uint32_t gu32_SeenVersion;

// Takes the texts when one of them differs from what was sent last; true then.
bool mb_Signal_TakeChanges() {
    const T_DBUS_GPS_Data t_Texts = t_Reply_Texts(&gt_SignalTexts, t_FixState());
    if (std::memcmp(&t_Texts, &gt_LastSent, sizeof t_Texts) == 0) {
        return false;
    }
    gt_LastSent = t_Texts;
    return true;
}

bool mb_Signal_Append(DBusMessageIter* pt_Iter) {
    for (const orb::GpsDataField& t_Field : orb::kGpsDataFields) {
        if (!orb::b_AppendText(pt_Iter, gt_LastSent.*t_Field.pt_Text)) {
            return false;
        }
    }
    return true;
}

} // namespace

void v_Signal_Start() {
    if (gt_Config.s32_GpsDataSignal > 0) {
        mb_Signal_TakeChanges();
    }
}

void v_Signal_AfterFold() {
    if (gt_Config.s32_GpsDataSignal <= 0 || gu32_SeenVersion == u32_FixState_Version()) {
        return;
    }
    gu32_SeenVersion = u32_FixState_Version();
    if (mb_Signal_TakeChanges()) {
        orb::e_EmitSignal(gt_Client.pt_Connection, orb::kXlocdPath, orb::kXlocdName, "GPSData",
                          mb_Signal_Append);
    }
}
