// Small owners for libdbus handles, so every return path releases them.
#pragma once

#include <dbus/dbus.h>

#include <cstdio>
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

// The framework's naming rules; buffers are the sizes the wire format allows.
struct Names {
    char acn_BusName[256];
    char acn_Path[256];
};

inline void v_FormatNames(const char* pc_Name, Names* pt_Names) noexcept {
    std::snprintf(pt_Names->acn_BusName, sizeof pt_Names->acn_BusName, "zel.orb.%s", pc_Name);
    std::snprintf(pt_Names->acn_Path, sizeof pt_Names->acn_Path, "/zel/orb/%s/Object", pc_Name);
}

constexpr const char* kBroadcast = "zel.orb.broadcast";
constexpr const char* kXcordName = "zel.orb.xcord";
constexpr const char* kXcordPath = "/zel/orb/xcord/Object";

// Appends one basic argument; false when libdbus refused it.
template <typename T> bool b_Append(DBusMessageIter* pt_Iter, int s32_Type, T t_Value) noexcept {
    return dbus_message_iter_append_basic(pt_Iter, s32_Type, &t_Value) != 0;
}

// Sends without a reply and flushes; false when the connection refused it.
inline bool b_SendAndFlush(DBusConnection* pt_Connection, DBusMessage* pt_Message) noexcept {
    if (!dbus_connection_send(pt_Connection, pt_Message, nullptr)) {
        return false;
    }
    dbus_connection_flush(pt_Connection);
    return true;
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
