#include "bus/reply.h"

#include "bus/bus_output.h"
#include "bus/reply_texts.h"
#include "dbus/owners.hpp"
#include "gps/fix_state.h"
#include "log.h"

#include <cstdint>

namespace {

T_ReplyTexts gt_ReplyTexts; // keeps the texts of earlier calls

// 1 when the reply went out, -1 otherwise (one log line for a failed append or send).
std::int32_t ms32_Process_GetData(DBusConnection* pt_Connection, DBusMessage* pt_Request) {
    const T_ReplyRow t_Row = t_Reply_Row(&gt_ReplyTexts, t_FixState());
    orb::Message pt_Reply(dbus_message_new_method_return(pt_Request));
    DBusMessageIter t_Iter;
    if (pt_Reply) {
        dbus_message_iter_init_append(pt_Reply.get(), &t_Iter);
    }
    const char* pc_Status = t_Row[0].data();
    if (!pt_Reply || !dbus_message_iter_append_basic(&t_Iter, DBUS_TYPE_STRING, &pc_Status)) {
        s32_Log_Write("ms32_Process_GetData: DBUS message append arguments error");
        return -1;
    }
    for (std::size_t i = 1; i < t_Row.size(); ++i) { // not examined, as designed
        const char* pc_Field = t_Row[i].data();
        dbus_message_iter_append_basic(&t_Iter, DBUS_TYPE_STRING, &pc_Field);
    }
    // A reply the bus does not take within the send bound is dropped, its caller left
    // to its timeout; the bus output logs such an episode once.
    switch (e_BusOutput_Send(pt_Connection, pt_Reply.get())) {
    case SendResult::Sent:
        return 1;
    case SendResult::Dropped:
        return -1;
    case SendResult::Refused:
        break;
    }
    s32_Log_Write("ms32_Process_GetData: Error sending the answer");
    return -1;
}

} // namespace

void v_Reply_Answer(DBusConnection* pt_Connection, DBusMessage* pt_Request) {
    ms32_Process_GetData(pt_Connection, pt_Request);
}
