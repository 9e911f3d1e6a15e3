// The texts are made by GetGPSData's rules from a store of the signal's own: the
// reply's store keeps texts from call to call, and refreshing it here after every
// fold would change what GetGPSData answers.
#include "bus/gps_signal.h"

#include "bus/bus_link.h"
#include "bus/bus_names.h"
#include "bus/bus_output.h"
#include "bus/reply_texts.h"
#include "dbus/owners.hpp"
#include "gps/fix_state.h"

#include <cstdint>

namespace {

bool gb_On;
T_ReplyTexts gt_SignalTexts;
T_ReplyRow gt_LastSent; // what subscribers saw last
std::uint32_t gu32_SeenVersion;

// Takes the texts when one of them differs from what was sent last; true then.
bool mb_Signal_TakeChanges() {
    const T_ReplyRow t_Row = t_Reply_Row(&gt_SignalTexts, t_FixState());
    if (t_Row == gt_LastSent) {
        return false;
    }
    gt_LastSent = t_Row;
    return true;
}

void mv_Signal_Send() {
    orb::Message pt_Signal(dbus_message_new_signal(kXlocdPath, kXlocdBusName, "GPSData"));
    if (!pt_Signal) {
        return;
    }
    DBusMessageIter t_Iter;
    dbus_message_iter_init_append(pt_Signal.get(), &t_Iter);
    for (const auto& at_Text : gt_LastSent) {
        if (!orb::b_AppendText(&t_Iter, at_Text.data())) {
            return;
        }
    }
    e_BusOutput_Send(pt_BusLink_Connection(), pt_Signal.get());
}

} // namespace

void v_Signal_Start(bool b_On) {
    gb_On = b_On;
    if (gb_On) {
        mb_Signal_TakeChanges();
    }
}

void v_Signal_AfterFold() {
    if (!gb_On || gu32_SeenVersion == u32_FixState_Version()) {
        return;
    }
    gu32_SeenVersion = u32_FixState_Version();
    if (mb_Signal_TakeChanges()) {
        mv_Signal_Send();
    }
}
