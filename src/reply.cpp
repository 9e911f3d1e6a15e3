#include "reply.h"

#include "dbus_owners.hpp"
#include "fix_state.h"
#include "gps_data_fields.hpp"
#include "log.h"
#include "reply_format.h"
#include "xlocd.h"

namespace {

T_ReplyTexts gt_ReplyTexts; // keeps the texts of earlier calls

} // namespace

std::int32_t ms32_Process_GetData(DBusMessage* pt_Request) {
    const T_DBUS_GPS_Data t_Texts = t_Reply_Texts(&gt_ReplyTexts, t_FixState());
    orb::Message pt_Reply(dbus_message_new_method_return(pt_Request));
    DBusMessageIter t_Iter;
    if (pt_Reply) {
        dbus_message_iter_init_append(pt_Reply.get(), &t_Iter);
    }
    const auto pc_Text = [&t_Texts](std::size_t u32_Field) -> const char* {
        return t_Texts.*orb::kGpsDataFields[u32_Field].pt_Text;
    };
    const char* pc_Status = pc_Text(0);
    if (!pt_Reply || !dbus_message_iter_append_basic(&t_Iter, DBUS_TYPE_STRING, &pc_Status)) {
        s32_Log_Write("ms32_Process_GetData: DBUS message append arguments error");
        return -1;
    }
    for (std::size_t i = 1; i < orb::kGpsDataFields.size(); ++i) { // not examined, as designed
        const char* pc_Field = pc_Text(i);
        dbus_message_iter_append_basic(&t_Iter, DBUS_TYPE_STRING, &pc_Field);
    }
    // A reply the bus does not take within the send bound is dropped, its caller left
    // to its timeout; the bus service logs such an episode once.
    switch (orb::e_SendBounded(gt_Client.pt_Connection, pt_Reply.get())) {
    case orb::Send::Sent:
        return 1;
    case orb::Send::Stalled:
        return -1;
    case orb::Send::Refused:
        break;
    }
    s32_Log_Write("ms32_Process_GetData: Error sending the answer");
    return -1;
}
