// Watchdog and system-service calls to xcord.
#include "bus_messages.hpp"
#include "orb_client.h"

#include <unistd.h>

namespace {

constexpr orb::CallTarget t_XcordCall(const char* pc_Member) {
    return {orb::kXcordName, orb::kXcordPath, orb::kXcordName, pc_Member};
}

std::uint32_t mu32_Pid() noexcept {
    return static_cast<std::uint32_t>(getpid());
}

bool mb_AppendPid(DBusMessageIter* pt_Iter) noexcept {
    return orb::b_AppendU32(pt_Iter, mu32_Pid());
}

// A one-UINT32 signal from the caller's own path on xcord's interface.
std::int32_t ms32_DBUS_XcordSignal(T_DBUS_Client* pt_Client, const char* pc_Member,
                                   std::uint32_t u32_Value) noexcept {
    if (orb::b_Dead(pt_Client->pt_Connection)) {
        return -1;
    }
    orb::Names t_Names;
    if (!orb::b_FormatNames(pt_Client->acn_Name, &t_Names)) {
        return -1;
    }
    const auto b_AppendValue = [u32_Value](DBusMessageIter* pt_Iter) {
        return orb::b_AppendU32(pt_Iter, u32_Value);
    };
    return orb::e_EmitSignal(pt_Client->pt_Connection, t_Names.acn_Path, orb::kXcordName, pc_Member,
                             b_AppendValue) == orb::SignalStage::Sent
               ? 0
               : -1;
}

// CancelWatchdog and GetIgnition: -1 unless a reply came, then s32_Match when its
// first string begins with pc_Prefix, else s32_Otherwise.
template <typename Appender>
std::int32_t ms32_DBUS_AskXcord(T_DBUS_Client* pt_Client, const char* pc_Member, Appender pf_Append,
                                const char* pc_Prefix, std::int32_t s32_Match,
                                std::int32_t s32_Otherwise) noexcept {
    if (pt_Client == nullptr) {
        return -5;
    }
    if (orb::b_Dead(pt_Client->pt_Connection)) {
        return -1;
    }
    const orb::CallResult t_Result =
        orb::t_CallBlocking(pt_Client->pt_Connection, t_XcordCall(pc_Member), pf_Append);
    if (t_Result.e_Stage != orb::CallStage::Replied) {
        return -1;
    }
    return orb::b_HasPrefix(orb::pc_FirstString(t_Result.pt_Reply.get()), pc_Prefix)
               ? s32_Match
               : s32_Otherwise;
}

} // namespace

extern "C" {

int32_t s32_DBUS_RegisterWatchdog(T_DBUS_Client* pt_Client) {
    if (pt_Client == nullptr) {
        return -5;
    }
    if (pt_Client->pt_Connection == nullptr) {
        return -2; // a connection the bus has closed gives no pending call: -4 below
    }
    const auto b_AppendRegistration = [pt_Client](DBusMessageIter* pt_Iter) {
        return orb::b_AppendText(pt_Iter, pt_Client->acn_Name) &&
               orb::b_AppendU32(pt_Iter, mu32_Pid()) &&
               orb::b_AppendText(pt_Iter, pt_Client->acn_WatchdogCmd) &&
               orb::b_AppendU32(pt_Iter,
                                static_cast<std::uint32_t>(pt_Client->s32_WatchdogInterval));
    };
    const orb::CallResult t_Result = orb::t_CallBlocking(
        pt_Client->pt_Connection, t_XcordCall("RegisterWatchdog"), b_AppendRegistration);
    switch (t_Result.e_Stage) {
    case orb::CallStage::NotBuilt:
        return -9;
    case orb::CallStage::NotHandedOver:
        return -2;
    case orb::CallStage::NoPending:
        return -4;
    case orb::CallStage::NoReply:
        return -1;
    case orb::CallStage::Replied:
        break;
    }
    DBusMessageIter t_Iter;
    if (!dbus_message_iter_init(t_Result.pt_Reply.get(), &t_Iter)) {
        return -10;
    }
    return orb::b_HasPrefix(orb::pc_FirstString(t_Result.pt_Reply.get()), "OK") ? 0 : -9;
}

int32_t s32_DBUS_CancelWatchdog(T_DBUS_Client* pt_Client) {
    return ms32_DBUS_AskXcord(pt_Client, "CancelWatchdog", mb_AppendPid, "OK", 0, -9);
}

int32_t s32_DBUS_GetIgnition(T_DBUS_Client* pt_Client) {
    return ms32_DBUS_AskXcord(pt_Client, "GetIgnition", orb::b_NoArguments, "OF", 0, 1);
}

int32_t s32_DBUS_TriggerWatchdog(T_DBUS_Client* pt_Client) {
    if (pt_Client == nullptr) {
        return -5;
    }
    return ms32_DBUS_XcordSignal(pt_Client, "TriggerWatchdog", mu32_Pid());
}

int32_t s32_DBUS_SendStayAlive(T_DBUS_Client* pt_Client, uint32_t u32_Value) {
    if (pt_Client == nullptr || u32_Value == 0) {
        return -5;
    }
    return ms32_DBUS_XcordSignal(pt_Client, "StayAlive", u32_Value);
}

} // extern "C"
