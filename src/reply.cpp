// GetGPSData: the method return with the twelve texts.
#include "dbus_owners.hpp"
#include "log.h"
#include "reply_format.h"
#include "xlocd.h"

namespace {

T_ReplyTexts gt_ReplyTexts; // keeps the texts of earlier calls

} // namespace

T_GpsTexts at_Reply_RefreshTexts(T_ReplyTexts* pt_Texts) {
    v_Reply_Refresh(pt_Texts, gt_GpsState);
    const T_ReplyTexts& t_T = *pt_Texts;
    return {gt_GpsState.acn_Status, t_T.acn_Latitude,   t_T.acn_Longitude, t_T.acn_Altitude,
            t_T.acn_Time,           t_T.acn_Satellites, t_T.acn_Quality,   gt_GpsState.acn_Warn,
            t_T.acn_Speed,          t_T.acn_Course,     t_T.acn_Date,      t_T.acn_UTC};
}

std::int32_t ms32_Process_GetData(DBusMessage* pt_Request) {
    const T_GpsTexts at_Fields = at_Reply_RefreshTexts(&gt_ReplyTexts);
    orb::Message pt_Reply(dbus_message_new_method_return(pt_Request));
    DBusMessageIter t_Iter;
    if (pt_Reply) {
        dbus_message_iter_init_append(pt_Reply.get(), &t_Iter);
    }
    if (!pt_Reply || !dbus_message_iter_append_basic(&t_Iter, DBUS_TYPE_STRING, &at_Fields[0])) {
        s32_Log_Write("ms32_Process_GetData: DBUS message append arguments error");
        return -1;
    }
    for (std::size_t i = 1; i < at_Fields.size(); ++i) {
        dbus_message_iter_append_basic(&t_Iter, DBUS_TYPE_STRING, &at_Fields[i]);
    }
    // A reply the bus does not take within the send bound is dropped, its caller left
    // to its timeout; the loop logs such an episode once.
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
