// Generic one-string requests and notifications to named peers.
#include "bus_messages.hpp"
#include "orb_client.h"

#include <cstring>

extern "C" {

int32_t s32_DBUS_Request(T_DBUS_Client* pt_Client, const char* pc_Peer, const char* pc_Member,
                         const char* pc_Argument, char* pc_Answer, int32_t s32_AnswerSize) {
    if (pt_Client == nullptr || pc_Peer == nullptr || pc_Member == nullptr ||
        pc_Argument == nullptr || pc_Answer == nullptr || s32_AnswerSize <= 0) {
        return -5;
    }
    if (orb::b_Dead(pt_Client->pt_Connection)) {
        return -1;
    }
    orb::Names t_Names;
    if (!orb::b_FormatNames(pc_Peer, &t_Names)) {
        return -1; // a peer name over 239 characters
    }
    const auto b_AppendArgument = [pc_Argument](DBusMessageIter* pt_Iter) {
        return orb::b_AppendText(pt_Iter, pc_Argument);
    };
    const orb::CallResult t_Result = orb::t_CallBlocking(
        pt_Client->pt_Connection,
        {t_Names.acn_BusName, t_Names.acn_Path, t_Names.acn_BusName, pc_Member}, b_AppendArgument);
    if (t_Result.e_Stage == orb::CallStage::NoReply) {
        return -9;
    }
    if (t_Result.e_Stage != orb::CallStage::Replied) {
        return -1;
    }
    const char* pc_Text = orb::pc_FirstString(t_Result.pt_Reply.get());
    if (pc_Text == nullptr) {
        return -9;
    }
    const auto u32_Size = static_cast<std::size_t>(s32_AnswerSize);
    std::strncpy(pc_Answer, pc_Text, u32_Size);
    // A text that fills the whole buffer would leave it unterminated: refused.
    if (std::strlen(pc_Text) >= u32_Size) {
        return -6;
    }
    return orb::b_HasPrefix(pc_Answer, "ERROR") ? -8 : 0;
}

int32_t s32_DBUS_Notify(T_DBUS_Client* pt_Client, const char* pc_Peer, const char* pc_Member,
                        const char* pc_Argument) {
    if (pt_Client == nullptr || pc_Peer == nullptr || pc_Member == nullptr ||
        pc_Argument == nullptr) {
        return -5;
    }
    if (orb::b_Dead(pt_Client->pt_Connection)) {
        return -2;
    }
    orb::Names t_Names;
    if (!orb::b_FormatNames(pc_Peer, &t_Names)) {
        return -1;
    }
    const auto b_AppendArgument = [pc_Argument](DBusMessageIter* pt_Iter) {
        return orb::b_AppendText(pt_Iter, pc_Argument);
    };
    switch (orb::e_EmitSignal(pt_Client->pt_Connection, t_Names.acn_Path, t_Names.acn_BusName,
                              pc_Member, b_AppendArgument)) {
    case orb::SignalStage::NotBuilt:
    case orb::SignalStage::NotAppended:
        return -1;
    case orb::SignalStage::NotSent:
        return -2;
    case orb::SignalStage::Sent:
        break;
    }
    return 0;
}

} // extern "C"
