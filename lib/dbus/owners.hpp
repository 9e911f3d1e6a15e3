// Small owners for libdbus handles, so every return path releases them; and the text
// checks every sender needs, since libdbus aborts the process on a text it finds invalid.
#pragma once

#include <dbus/dbus.h>

#include <cstdint>
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

// An error object that is freed unread unless its holder asks for its name.
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

inline bool b_ValidText(const char* pc_Text) noexcept {
    return dbus_validate_utf8(pc_Text, nullptr) != 0;
}

// Appends one UINT32; false when libdbus refused it.
inline bool b_AppendU32(DBusMessageIter* pt_Iter, std::uint32_t u32_Value) noexcept {
    return dbus_message_iter_append_basic(pt_Iter, DBUS_TYPE_UINT32, &u32_Value) != 0;
}

// Appends one STRING; false for a text that is not UTF-8 or that libdbus refused.
inline bool b_AppendText(DBusMessageIter* pt_Iter, const char* pc_Text) noexcept {
    return b_ValidText(pc_Text) &&
           dbus_message_iter_append_basic(pt_Iter, DBUS_TYPE_STRING, &pc_Text) != 0;
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

// No connection, or one the bus has closed: nothing can be sent on it.
inline bool b_Dead(DBusConnection* pt_Connection) noexcept {
    return pt_Connection == nullptr || !dbus_connection_get_is_connected(pt_Connection);
}

} // namespace orb
