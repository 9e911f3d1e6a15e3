// Sending the framework's messages: a method call that blocks for its reply, or a
// signal, each reporting the stage where it stopped; every operation maps the
// stages to its own result codes.
#pragma once

#include "dbus_owners.hpp"

namespace orb {

enum class CallStage { NotBuilt, NotHandedOver, NoPending, NoReply, Replied };

struct CallResult {
    CallStage e_Stage;
    Message pt_Reply; // set only for Replied; its type is not examined
};

struct CallTarget {
    const char* pc_Destination;
    const char* pc_Path;
    const char* pc_Interface;
    const char* pc_Member;
};

// libdbus aborts on an invalid name instead of failing, so nothing invalid is built.
inline bool b_ValidSignal(const char* pc_Path, const char* pc_Interface,
                          const char* pc_Member) noexcept {
    return dbus_validate_path(pc_Path, nullptr) && dbus_validate_interface(pc_Interface, nullptr) &&
           dbus_validate_member(pc_Member, nullptr);
}

inline bool b_ValidCall(const CallTarget& t_Target) noexcept {
    return dbus_validate_bus_name(t_Target.pc_Destination, nullptr) &&
           b_ValidSignal(t_Target.pc_Path, t_Target.pc_Interface, t_Target.pc_Member);
}

// pf_Append(DBusMessageIter*) appends the arguments and returns false on failure.
template <typename Appender>
CallResult t_CallBlocking(DBusConnection* pt_Connection, const CallTarget& t_Target,
                          Appender pf_Append) noexcept {
    if (!b_ValidCall(t_Target)) {
        return {CallStage::NotBuilt, nullptr};
    }
    Message pt_Call(dbus_message_new_method_call(t_Target.pc_Destination, t_Target.pc_Path,
                                                 t_Target.pc_Interface, t_Target.pc_Member));
    if (!pt_Call) {
        return {CallStage::NotBuilt, nullptr};
    }
    DBusMessageIter t_Iter;
    dbus_message_iter_init_append(pt_Call.get(), &t_Iter);
    if (!pf_Append(&t_Iter)) {
        return {CallStage::NotBuilt, nullptr};
    }
    if (!dbus_connection_get_is_connected(pt_Connection)) {
        return {CallStage::NoPending, nullptr}; // libdbus gives none on a closed connection
    }
    // A call that cannot be written within the send bound is not waited for: the
    // reply timeout counts only once the bus has taken it.
    const timespec t_Start = t_SendStart();
    DBusPendingCall* pt_RawPending = nullptr;
    if (!b_OutputClear(pt_Connection) ||
        !dbus_connection_send_with_reply(pt_Connection, pt_Call.get(), &pt_RawPending,
                                         DBUS_TIMEOUT_USE_DEFAULT)) {
        return {CallStage::NotHandedOver, nullptr};
    }
    Pending pt_Pending(pt_RawPending);
    if (!pt_Pending) {
        return {CallStage::NoPending, nullptr}; // the connection is closed
    }
    if (!b_FlushBounded(pt_Connection, t_Start)) {
        dbus_pending_call_cancel(pt_Pending.get());
        return {CallStage::NoReply, nullptr};
    }
    pt_Call.reset();
    dbus_pending_call_block(pt_Pending.get());
    Message pt_Reply(dbus_pending_call_steal_reply(pt_Pending.get()));
    if (!pt_Reply) {
        return {CallStage::NoReply, nullptr};
    }
    return {CallStage::Replied, std::move(pt_Reply)};
}

enum class SignalStage { NotBuilt, NotAppended, NotSent, Sent };

// Builds a signal, appends its arguments, sends it and flushes.
template <typename Appender>
SignalStage e_EmitSignal(DBusConnection* pt_Connection, const char* pc_Path,
                         const char* pc_Interface, const char* pc_Member,
                         Appender pf_Append) noexcept {
    if (!b_ValidSignal(pc_Path, pc_Interface, pc_Member)) {
        return SignalStage::NotBuilt;
    }
    Message pt_Signal(dbus_message_new_signal(pc_Path, pc_Interface, pc_Member));
    if (!pt_Signal) {
        return SignalStage::NotBuilt;
    }
    DBusMessageIter t_Iter;
    dbus_message_iter_init_append(pt_Signal.get(), &t_Iter);
    if (!pf_Append(&t_Iter)) {
        return SignalStage::NotAppended;
    }
    return e_SendBounded(pt_Connection, pt_Signal.get()) == Send::Sent ? SignalStage::Sent
                                                                       : SignalStage::NotSent;
}

inline bool b_NoArguments(DBusMessageIter*) noexcept {
    return true;
}

inline bool b_HasPrefix(const char* pc_Text, const char* pc_Prefix) noexcept {
    if (pc_Text == nullptr) {
        return false;
    }
    while (*pc_Prefix != '\0') {
        if (*pc_Text++ != *pc_Prefix++) {
            return false;
        }
    }
    return true;
}

} // namespace orb
