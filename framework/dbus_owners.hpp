// Small owners for libdbus handles, so every return path releases them.
#pragma once

#include <dbus/dbus.h>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>

namespace orb {

struct MessageUnref {
    void operator()(DBusMessage* pt_Message) const noexcept { dbus_message_unref(pt_Message); }
};
struct PendingUnref {
    void operator()(DBusPendingCall* pt_Pending) const noexcept {
        dbus_pending_call_unref(pt_Pending);
    }
};
using Message = std::unique_ptr<DBusMessage, MessageUnref>;
using Pending = std::unique_ptr<DBusPendingCall, PendingUnref>;

// An error object that is freed unread: nothing in the library reports it.
class Error {
  public:
    Error() noexcept { dbus_error_init(&t_Error); }
    ~Error() { dbus_error_free(&t_Error); }
    Error(const Error&) = delete;
    Error& operator=(const Error&) = delete;
    DBusError* get() noexcept { return &t_Error; }

  private:
    DBusError t_Error;
};

// libdbus aborts the whole process on a text it finds invalid, so every text that
// comes from a caller is checked here before libdbus sees it.
inline bool b_ValidText(const char* pc_Text) noexcept {
    return dbus_validate_utf8(pc_Text, nullptr) != 0;
}

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

// Appends one UINT32; false when libdbus refused it.
inline bool b_AppendU32(DBusMessageIter* pt_Iter, std::uint32_t u32_Value) noexcept {
    return dbus_message_iter_append_basic(pt_Iter, DBUS_TYPE_UINT32, &u32_Value) != 0;
}

// Appends one STRING; false for a text that is not UTF-8 or that libdbus refused.
inline bool b_AppendText(DBusMessageIter* pt_Iter, const char* pc_Text) noexcept {
    return b_ValidText(pc_Text) &&
           dbus_message_iter_append_basic(pt_Iter, DBUS_TYPE_STRING, &pc_Text) != 0;
}

// No connection, or one the bus has closed: nothing can be sent on it.
inline bool b_Dead(DBusConnection* pt_Connection) noexcept {
    return pt_Connection == nullptr || !dbus_connection_get_is_connected(pt_Connection);
}

// How long a send waits for the bus to take what libdbus holds for it. A bus that
// stops reading a connection (a subscriber that never reads pins its messages)
// must not hold the caller: a blocking flush would wait for ever.
constexpr int kSendBoundMs = 100;

// Writes what libdbus holds for the bus until it is out or kSendBoundMs have passed
// since pt_Start; true when nothing is left.
inline bool b_FlushBounded(DBusConnection* pt_Connection, const timespec& t_Start) noexcept {
    while (dbus_connection_has_messages_to_send(pt_Connection)) {
        timespec t_Now{};
        clock_gettime(CLOCK_MONOTONIC, &t_Now);
        const long s32_Spent =
            (t_Now.tv_sec - t_Start.tv_sec) * 1000 + (t_Now.tv_nsec - t_Start.tv_nsec) / 1000000;
        if (s32_Spent >= kSendBoundMs ||
            !dbus_connection_read_write(pt_Connection,
                                        static_cast<int>(kSendBoundMs - s32_Spent))) {
            return !dbus_connection_has_messages_to_send(pt_Connection);
        }
    }
    return true;
}

inline timespec t_SendStart() noexcept {
    timespec t_Now{};
    clock_gettime(CLOCK_MONOTONIC, &t_Now);
    return t_Now;
}

// True when libdbus holds nothing for the bus after one write that does not wait:
// a message still waiting from an earlier send means the bus is not reading.
inline bool b_OutputClear(DBusConnection* pt_Connection) noexcept {
    if (dbus_connection_has_messages_to_send(pt_Connection)) {
        dbus_connection_read_write(pt_Connection, 0);
    }
    return !dbus_connection_has_messages_to_send(pt_Connection);
}

enum class Send { Sent, Stalled, Refused };

// Sends without a reply, waiting at most kSendBoundMs for the bus. A message is not
// queued behind one that is still waiting: it is dropped at once (Stalled), so the
// queue stays bounded and a stalled bus costs one bound per episode, not per
// message. Refused: no connection, or libdbus would not take it.
inline Send e_SendBounded(DBusConnection* pt_Connection, DBusMessage* pt_Message) noexcept {
    const timespec t_Start = t_SendStart();
    if (b_Dead(pt_Connection)) {
        return Send::Refused;
    }
    if (!b_OutputClear(pt_Connection)) {
        return Send::Stalled;
    }
    if (!dbus_connection_send(pt_Connection, pt_Message, nullptr)) {
        return Send::Refused;
    }
    b_FlushBounded(pt_Connection, t_Start); // what stays queued holds back the next send
    return b_Dead(pt_Connection) ? Send::Refused : Send::Sent; // the write found it closed
}

// First argument as a string, or nullptr when there is none or it is not a string.
inline const char* pc_FirstString(DBusMessage* pt_Message) noexcept {
    DBusMessageIter t_Iter;
    if (!dbus_message_iter_init(pt_Message, &t_Iter) ||
        dbus_message_iter_get_arg_type(&t_Iter) != DBUS_TYPE_STRING) {
        return nullptr;
    }
    const char* pc_Text = nullptr;
    dbus_message_iter_get_basic(&t_Iter, &pc_Text);
    return pc_Text;
}

} // namespace orb
