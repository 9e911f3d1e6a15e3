// Every method call other than the daemon's own gets an error reply at once, as a
// D-Bus service owes it, instead of leaving the caller to its timeout.
#include "bus/introspection.h"

#include "bus/bus_names.h"
#include "bus/bus_output.h"
#include "bus/reply_texts.h"
#include "dbus/owners.hpp"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kObjectPath = kXlocdPath;
constexpr const char* kStandardInterfaces =
    " <interface name=\"org.freedesktop.DBus.Introspectable\">\n"
    "  <method name=\"Introspect\"><arg name=\"xml_data\" type=\"s\" direction=\"out\"/></method>\n"
    " </interface>\n"
    " <interface name=\"org.freedesktop.DBus.Peer\">\n"
    "  <method name=\"Ping\"/>\n"
    "  <method name=\"GetMachineId\">"
    "<arg name=\"machine_uuid\" type=\"s\" direction=\"out\"/></method>\n"
    " </interface>\n";

// One document at a time, written into a fixed buffer (large enough for the object's).
struct T_Xml {
    char acn_Text[4096];
    std::size_t u32_Len;
    __attribute__((format(printf, 2, 3))) void v_Add(const char* pc_Format, ...) {
        va_list t_Args;
        va_start(t_Args, pc_Format);
        char* pc_End = acn_Text + u32_Len;
        const std::size_t u32_Room = sizeof acn_Text - u32_Len;
        // The analyzer misses va_start just above in a member function.
        // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
        const int s32_Added = std::vsnprintf(pc_End, u32_Room, pc_Format, t_Args);
        va_end(t_Args);
        u32_Len = s32_Added < 0 ? u32_Len : std::min(sizeof acn_Text - 1, u32_Len + s32_Added);
    }
};
T_Xml gt_Xml;
DBusConnection* gpt_Connection; // the answer's, for the call under way

void mv_Xml_Arguments(const char* pc_Direction) {
    for (const T_ReplyField& t_Field : kReplyFields) {
        gt_Xml.v_Add("   <arg name=\"%s\" type=\"s\"%s/>\n", t_Field.pc_Name, pc_Direction);
    }
}

enum class Node { None, Object, Parent };

// Where a path stands in the daemon's tree: the object, one of its parents, or outside.
Node me_Node(const char* pc_Path) {
    const std::size_t u32_Len = std::strlen(pc_Path);
    if (std::strcmp(pc_Path, kObjectPath) == 0) {
        return Node::Object;
    }
    const bool b_Parent = u32_Len > 0 && std::strncmp(kObjectPath, pc_Path, u32_Len) == 0 &&
                          (u32_Len == 1 || kObjectPath[u32_Len] == '/');
    return b_Parent ? Node::Parent : Node::None;
}

// The document for a node of the daemon's tree.
const char* mpc_Xml(const char* pc_Path, Node e_Node) {
    const std::size_t u32_Len = std::strlen(pc_Path);
    gt_Xml.u32_Len = 0;
    gt_Xml.v_Add(
        "<!DOCTYPE node PUBLIC \"-//freedesktop//DTD D-BUS Object Introspection 1.0//EN\"\n"
        " \"http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd\">\n<node>\n%s",
        kStandardInterfaces);
    if (e_Node == Node::Object) {
        gt_Xml.v_Add(" <interface name=\"zel.orb.xlocd\">\n  <method name=\"GetGPSData\">\n");
        mv_Xml_Arguments(" direction=\"out\"");
        gt_Xml.v_Add("  </method>\n  <signal name=\"GPSData\">\n");
        mv_Xml_Arguments("");
        gt_Xml.v_Add("  </signal>\n </interface>\n");
    } else {
        const char* pc_Child = kObjectPath + (u32_Len == 1 ? 1 : u32_Len + 1);
        gt_Xml.v_Add(" <node name=\"%.*s\"/>\n", static_cast<int>(std::strcspn(pc_Child, "/")),
                     pc_Child);
    }
    gt_Xml.v_Add("</node>\n");
    return gt_Xml.acn_Text;
}

// A method return carrying pc_Text, or nothing when pc_Text is null.
bool mb_Answer(DBusMessage* pt_Call, const char* pc_Text) {
    orb::Message pt_Reply(dbus_message_new_method_return(pt_Call));
    DBusMessageIter t_Iter;
    if (!pt_Reply) {
        return false;
    }
    dbus_message_iter_init_append(pt_Reply.get(), &t_Iter);
    return (pc_Text == nullptr || orb::b_AppendText(&t_Iter, pc_Text)) &&
           e_BusOutput_Send(gpt_Connection, pt_Reply.get()) == SendResult::Sent;
}

bool mb_AnswerError(DBusMessage* pt_Call, const char* pc_Name, const char* pc_Text) {
    orb::Message pt_Reply(dbus_message_new_error(pt_Call, pc_Name, pc_Text));
    return pt_Reply && e_BusOutput_Send(gpt_Connection, pt_Reply.get()) == SendResult::Sent;
}

bool mb_AnswerMachineId(DBusMessage* pt_Call) {
    orb::Error t_Error;
    char* pc_Id = dbus_try_get_local_machine_id(t_Error.get());
    if (pc_Id == nullptr) {
        return mb_AnswerError(pt_Call, DBUS_ERROR_FAILED, "no machine id on this system");
    }
    const bool b_Sent = mb_Answer(pt_Call, pc_Id);
    dbus_free(pc_Id);
    return b_Sent;
}

// The error for a call that none of the daemon's methods takes.
bool mb_AnswerUnknown(DBusMessage* pt_Call, Node e_Node) {
    const char* pc_Interface = dbus_message_get_interface(pt_Call);
    if (e_Node == Node::None) {
        return mb_AnswerError(pt_Call, DBUS_ERROR_UNKNOWN_OBJECT, "no such object");
    }
    for (const char* pc_Known :
         {kXlocdBusName, DBUS_INTERFACE_INTROSPECTABLE, DBUS_INTERFACE_PEER}) {
        if (pc_Interface == nullptr || std::strcmp(pc_Interface, pc_Known) == 0) {
            return mb_AnswerError(pt_Call, DBUS_ERROR_UNKNOWN_METHOD, "no such method");
        }
    }
    return mb_AnswerError(pt_Call, DBUS_ERROR_UNKNOWN_INTERFACE, "no such interface");
}

} // namespace

bool b_Introspection_Answer(DBusConnection* pt_Connection, DBusMessage* pt_Message) {
    gpt_Connection = pt_Connection;
    if (dbus_message_get_type(pt_Message) != DBUS_MESSAGE_TYPE_METHOD_CALL ||
        dbus_message_get_no_reply(pt_Message)) {
        return false;
    }
    const char* pc_Path = dbus_message_get_path(pt_Message);
    pc_Path = pc_Path != nullptr ? pc_Path : "";
    const Node e_Node = me_Node(pc_Path);
    if (dbus_message_is_method_call(pt_Message, DBUS_INTERFACE_INTROSPECTABLE, "Introspect") &&
        e_Node != Node::None) {
        return mb_Answer(pt_Message, mpc_Xml(pc_Path, e_Node));
    }
    if (dbus_message_is_method_call(pt_Message, DBUS_INTERFACE_PEER, "Ping")) {
        return mb_Answer(pt_Message, nullptr);
    }
    if (dbus_message_is_method_call(pt_Message, DBUS_INTERFACE_PEER, "GetMachineId")) {
        return mb_AnswerMachineId(pt_Message);
    }
    return mb_AnswerUnknown(pt_Message, e_Node);
}
