// Broadcast receiver: drains the incoming queue into the installed callbacks.
#include "bus_messages.hpp"
#include "orb_client.h"
#include "receiver_dispatch.hpp"

#include <array>
#include <cstring>

namespace {

struct T_Callbacks {
    pf_DBUS_OnTwoTexts pf_OnSms;
    pf_DBUS_OnText pf_OnHello;
    pf_DBUS_OnTwoTexts pf_OnNetworkNotification;
    pf_DBUS_OnText pf_OnGoodbye;
    pf_DBUS_OnText pf_OnResponseTimeIndicator;
    pf_DBUS_OnText pf_OnWhoIsThere;
    pf_DBUS_OnMessage pf_OnOtherMessage;
};
T_Callbacks gt_Callbacks{};

// Event buffers: callbacks get pointers into these.
char acn_PeerName[200];
char acn_SmsArg1[20];
char acn_SmsArg2[200];
char acn_NetworkArg1[10];
char acn_NetworkArg2[10];
char acn_IndicatorArg[200];

// Copies the current argument when it is a string that fits; false otherwise.
template <std::size_t N> bool mb_TakeText(DBusMessageIter* pt_Iter, char (&acn_Buffer)[N]) {
    if (dbus_message_iter_get_arg_type(pt_Iter) != DBUS_TYPE_STRING) {
        return false;
    }
    const char* pc_Text = nullptr;
    dbus_message_iter_get_basic(pt_Iter, &pc_Text);
    const std::size_t u32_Len = std::strlen(pc_Text);
    if (u32_Len >= N) {
        return false;
    }
    std::memcpy(acn_Buffer, pc_Text, u32_Len + 1);
    return true;
}

template <std::size_t N> bool mb_OneText(DBusMessage* pt_Message, char (&acn_Buffer)[N]) {
    DBusMessageIter t_Iter;
    return dbus_message_iter_init(pt_Message, &t_Iter) && mb_TakeText(&t_Iter, acn_Buffer);
}

template <std::size_t N1, std::size_t N2>
bool mb_TwoTexts(DBusMessage* pt_Message, char (&acn_First)[N1], char (&acn_Second)[N2]) {
    DBusMessageIter t_Iter;
    return dbus_message_iter_init(pt_Message, &t_Iter) && mb_TakeText(&t_Iter, acn_First) &&
           dbus_message_iter_next(&t_Iter) && mb_TakeText(&t_Iter, acn_Second);
}

bool mb_Is(DBusMessage* pt_Message, const char* pc_Interface, const char* pc_Member) {
    return dbus_message_is_signal(pt_Message, pc_Interface, pc_Member) != 0;
}

} // namespace

bool orb::b_DispatchEvent(DBusMessage* pt_Message) {
    const T_Callbacks& t_Cb = gt_Callbacks;
    if (t_Cb.pf_OnHello && mb_Is(pt_Message, orb::kBroadcast, "HELLO")) {
        return mb_OneText(pt_Message, acn_PeerName) && (t_Cb.pf_OnHello(acn_PeerName), true);
    }
    if (t_Cb.pf_OnGoodbye && mb_Is(pt_Message, orb::kBroadcast, "GOODBYE")) {
        return mb_OneText(pt_Message, acn_PeerName) && (t_Cb.pf_OnGoodbye(acn_PeerName), true);
    }
    if (t_Cb.pf_OnSms && mb_Is(pt_Message, "zel.orb.xtxtd", "SMS")) {
        return mb_TwoTexts(pt_Message, acn_SmsArg1, acn_SmsArg2) &&
               (t_Cb.pf_OnSms(acn_SmsArg1, acn_SmsArg2), true);
    }
    if (t_Cb.pf_OnNetworkNotification &&
        mb_Is(pt_Message, "zel.orb.xlinkd", "Network_Notification")) {
        return mb_TwoTexts(pt_Message, acn_NetworkArg1, acn_NetworkArg2) &&
               (t_Cb.pf_OnNetworkNotification(acn_NetworkArg1, acn_NetworkArg2), true);
    }
    if (t_Cb.pf_OnResponseTimeIndicator &&
        mb_Is(pt_Message, orb::kBroadcast, "NetworkResponseTimeIndicator")) {
        return mb_OneText(pt_Message, acn_IndicatorArg) &&
               (t_Cb.pf_OnResponseTimeIndicator(acn_IndicatorArg), true);
    }
    // Checked before WhoIsThere on purpose: an installed catch-all takes WhoIsThere too.
    if (t_Cb.pf_OnOtherMessage) {
        t_Cb.pf_OnOtherMessage(pt_Message);
        return true;
    }
    if (t_Cb.pf_OnWhoIsThere && mb_Is(pt_Message, orb::kBroadcast, "WhoIsThere")) {
        DBusMessageIter t_Iter;
        if (!dbus_message_iter_init(pt_Message, &t_Iter)) {
            t_Cb.pf_OnWhoIsThere("");
            return true;
        }
        return mb_TakeText(&t_Iter, acn_PeerName) && (t_Cb.pf_OnWhoIsThere(acn_PeerName), true);
    }
    return true;
}

extern "C" {

void v_DBUS_SetEventCallbacks(pf_DBUS_OnTwoTexts pf_OnSms, pf_DBUS_OnText pf_OnHello,
                              pf_DBUS_OnTwoTexts pf_OnNetworkNotification,
                              pf_DBUS_OnText pf_OnGoodbye,
                              pf_DBUS_OnText pf_OnResponseTimeIndicator,
                              pf_DBUS_OnText pf_OnWhoIsThere, pf_DBUS_OnMessage pf_OnOtherMessage) {
    gt_Callbacks = {pf_OnSms,
                    pf_OnHello,
                    pf_OnNetworkNotification,
                    pf_OnGoodbye,
                    pf_OnResponseTimeIndicator,
                    pf_OnWhoIsThere,
                    pf_OnOtherMessage};
}

int32_t s32_DBUS_ReceiveEvents(T_DBUS_Client* pt_Client) {
    if (pt_Client == nullptr || pt_Client->pt_Connection == nullptr) {
        return -10;
    }
    // On a connection the bus has closed, what is queued is still drained: libdbus ends
    // it with the local Disconnected signal, which pf_OnOtherMessage receives, and that
    // is how an application learns that its connection is gone.
    // A callback may unregister (or register anew): the drain holds its own reference
    // and ends as soon as the record no longer holds this connection.
    DBusConnection* pt_Connection = dbus_connection_ref(pt_Client->pt_Connection);
    std::int32_t s32_Result = 0;
    while (pt_Client->pt_Connection == pt_Connection) {
        dbus_connection_read_write(pt_Connection, 0);
        orb::Message pt_Message(dbus_connection_pop_message(pt_Connection));
        if (!pt_Message) {
            break;
        }
        if (!orb::b_DispatchEvent(pt_Message.get())) {
            s32_Result = -9;
            break;
        }
    }
    dbus_connection_unref(pt_Connection);
    return s32_Result;
}

} // extern "C"
