// Sending the framework's messages: a method call that blocks for its reply, or a
// signal, each reporting the stage where it stopped; every operation maps the
// stages to its own result codes. Every send ends with a blocking flush, as the
// framework's operations promise: an application that must not wait for a bus that
// stops reading checks the connection's output itself before it calls.
#pragma once

#include "dbus/owners.hpp"

#include <cstdio>

namespace orb {

// The framework's naming rules; buffers are the sizes the wire format allows.
struct Names {
    char acn_BusName[256];
    char acn_Path[256];
};

// False when a name does not fit its buffer, so that a cut name is never used.
// Whether the names are valid is left to the message builders below.
inline bool b_FormatNames(const char* pc_Name, Names* pt_Names) noexcept {
    const int s32_Bus =
        std::snprintf(pt_Names->acn_BusName, sizeof pt_Names->acn_BusName, "zel.orb.%s", pc_Name);
    const int s32_Path =
        std::snprintf(pt_Names->acn_Path, sizeof pt_Names->acn_Path, "/zel/orb/%s/Object", pc_Name);
    return s32_Bus >= 0 && static_cast<std::size_t>(s32_Bus) < sizeof pt_Names->acn_BusName &&
           s32_Path >= 0 && static_cast<std::size_t>(s32_Path) < sizeof pt_Names->acn_Path;
}

// A short name N is usable when "zel.orb.N" is a bus name and an interface, and
// "/zel/orb/N/Object" a path: letters, digits and '_', not starting with a digit.
inline bool b_ValidNames(const char* pc_Name, Names* pt_Names) noexcept {
    return b_FormatNames(pc_Name, pt_Names) &&
           dbus_validate_bus_name(pt_Names->acn_BusName, nullptr) &&
           dbus_validate_interface(pt_Names->acn_BusName, nullptr) &&
           dbus_validate_path(pt_Names->acn_Path, nullptr);
}

constexpr const char* kBroadcast = "zel.orb.broadcast";
constexpr const char* kXcordName = "zel.orb.xcord";
constexpr const char* kXcordPath = "/zel/orb/xcord/Object";

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
// s32_TimeoutMs is the reply timeout once the call is handed over (-1: libdbus's 25 s).
template <typename Appender>
CallResult t_CallBlocking(DBusConnection* pt_Connection, const CallTarget& t_Target,
                          Appender pf_Append,
                          int s32_TimeoutMs = DBUS_TIMEOUT_USE_DEFAULT) noexcept {
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
    DBusPendingCall* pt_RawPending = nullptr;
    if (!dbus_connection_send_with_reply(pt_Connection, pt_Call.get(), &pt_RawPending,
                                         s32_TimeoutMs)) {
        return {CallStage::NotHandedOver, nullptr};
    }
    Pending pt_Pending(pt_RawPending);
    if (!pt_Pending) {
        return {CallStage::NoPending, nullptr}; // the connection is closed
    }
    dbus_connection_flush(pt_Connection);
    pt_Call.reset();
    dbus_pending_call_block(pt_Pending.get());
    Message pt_Reply(dbus_pending_call_steal_reply(pt_Pending.get()));
    if (!pt_Reply) {
        return {CallStage::NoReply, nullptr};
    }
    return {CallStage::Replied, std::move(pt_Reply)};
}

enum class SignalStage { NotBuilt, NotAppended, NotSent, Sent };

// Builds a signal, appends its arguments, hands it to the connection and flushes.
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
    if (b_Dead(pt_Connection) || !dbus_connection_send(pt_Connection, pt_Signal.get(), nullptr)) {
        return SignalStage::NotSent;
    }
    dbus_connection_flush(pt_Connection);
    return b_Dead(pt_Connection) ? SignalStage::NotSent : SignalStage::Sent; // found it closed
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
