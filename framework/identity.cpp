// Bus identity: taking the name and the HELLO / GOODBYE / WhoIsThere broadcasts.
#include "bus_messages.hpp"
#include "orb_client.h"

#include <initializer_list>

namespace {

// s32_FailedSend is the announcement's own code for a refused hand-over.
std::int32_t ms32_DBUS_Announce(T_DBUS_Client* pt_Client, const char* pc_Member,
                                std::int32_t s32_FailedSend) noexcept {
    if (pt_Client == nullptr) {
        return -5;
    }
    if (orb::b_Dead(pt_Client->pt_Connection)) {
        return s32_FailedSend;
    }
    orb::Names t_Names;
    if (!orb::b_FormatNames(pt_Client->acn_Name, &t_Names)) {
        return -1;
    }
    const auto b_AppendIdentity = [pt_Client](DBusMessageIter* pt_Iter) {
        for (const char* pc_Text : {pt_Client->acn_Name, pt_Client->acn_Version,
                                    pt_Client->acn_Info, pt_Client->acn_Description}) {
            if (!orb::b_AppendText(pt_Iter, pc_Text)) {
                return false;
            }
        }
        return true;
    };
    switch (orb::e_EmitSignal(pt_Client->pt_Connection, t_Names.acn_Path, orb::kBroadcast,
                              pc_Member, b_AppendIdentity)) {
    case orb::SignalStage::NotBuilt:
        return -1;
    case orb::SignalStage::NotAppended:
        return -10;
    case orb::SignalStage::NotSent:
        return s32_FailedSend;
    case orb::SignalStage::Sent:
        break;
    }
    return 0;
}

} // namespace

extern "C" {

int32_t s32_DBUS_Register(T_DBUS_Client* pt_Client) {
    orb::Error t_Error;
    if (pt_Client == nullptr) {
        return -5;
    }
    pt_Client->pt_Connection = dbus_bus_get(DBUS_BUS_SYSTEM, t_Error.get());
    if (pt_Client->pt_Connection == nullptr) {
        return -9;
    }
    orb::Names t_Names;
    if (!orb::b_ValidNames(pt_Client->acn_Name, &t_Names)) {
        return -10; // a name nobody can own
    }
    orb::Error t_RequestError;
    const int s32_Reply =
        dbus_bus_request_name(pt_Client->pt_Connection, t_Names.acn_BusName,
                              DBUS_NAME_FLAG_REPLACE_EXISTING, t_RequestError.get());
    return s32_Reply == DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER ? 0 : -10;
}

int32_t s32_DBUS_Unregister(T_DBUS_Client* pt_Client) {
    if (pt_Client == nullptr) {
        return -5;
    }
    if (pt_Client->pt_Connection == nullptr) {
        return -10;
    }
    // A release on a closed connection would wait for an answer that cannot come.
    orb::Names t_Names;
    const int s32_Reply =
        !orb::b_Dead(pt_Client->pt_Connection) && orb::b_ValidNames(pt_Client->acn_Name, &t_Names)
            ? dbus_bus_release_name(pt_Client->pt_Connection, t_Names.acn_BusName, nullptr)
            : -1; // an invalid name cannot be released: the release failed
    dbus_connection_unref(pt_Client->pt_Connection);
    pt_Client->pt_Connection = nullptr;
    return s32_Reply == -1 ? -10 : 0;
}

int32_t s32_DBUS_SendHello(T_DBUS_Client* pt_Client) {
    return ms32_DBUS_Announce(pt_Client, "HELLO", -1);
}

int32_t s32_DBUS_SendGoodbye(T_DBUS_Client* pt_Client) {
    return ms32_DBUS_Announce(pt_Client, "GOODBYE", -1);
}

int32_t s32_DBUS_SendWhoIsThere(T_DBUS_Client* pt_Client) {
    return ms32_DBUS_Announce(pt_Client, "WhoIsThere", -2);
}

} // extern "C"
