// introspection: Introspect at the object path and at its parents, and the Peer
// interface's Ping and GetMachineId, so that generic D-Bus tools can see the daemon.
#include "bus_messages.hpp"
#include "gps_data_fields.hpp"
#include "xlocd.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kObjectPath = "/zel/orb/xlocd/Object";
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
        const int s32_Added = std::vsnprintf(acn_Text + u32_Len, sizeof acn_Text - u32_Len,
                                             pc_Format, t_Args); // NOLINT
        va_end(t_Args);
        u32_Len = s32_Added < 0 ? u32_Len : std::min(sizeof acn_Text - 1, u32_Len + s32_Added);
    }
};
T_Xml gt_Xml;

void mv_Xml_Arguments(const char* pc_Direction) {
    for (const char* pc_Name : orb::kGpsDataNames) {
        gt_Xml.v_Add("   <arg name=\"%s\" type=\"s\"%s/>\n", pc_Name, pc_Direction);
    }
}

// The document for a path of the daemon's tree, or nullptr for any other path.
const char* mpc_Xml(const char* pc_Path) {
    const std::size_t u32_Len = std::strlen(pc_Path);
    const bool b_Object = std::strcmp(pc_Path, kObjectPath) == 0;
    const bool b_Parent = !b_Object && std::strncmp(kObjectPath, pc_Path, u32_Len) == 0 &&
                          (u32_Len == 1 || kObjectPath[u32_Len] == '/');
    if (!b_Object && !b_Parent) {
        return nullptr;
    }
    gt_Xml.u32_Len = 0;
    gt_Xml.v_Add(
        "<!DOCTYPE node PUBLIC \"-//freedesktop//DTD D-BUS Object Introspection 1.0//EN\"\n"
        " \"http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd\">\n<node>\n%s",
        kStandardInterfaces);
    if (b_Object) {
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
           orb::b_SendAndFlush(gt_Client.pt_Connection, pt_Reply.get());
}

bool mb_AnswerMachineId(DBusMessage* pt_Call) {
    orb::Error t_Error;
    char* pc_Id = dbus_try_get_local_machine_id(t_Error.get());
    if (pc_Id == nullptr) {
        orb::Message pt_Reply(
            dbus_message_new_error(pt_Call, DBUS_ERROR_FAILED, "no machine id on this system"));
        return pt_Reply && orb::b_SendAndFlush(gt_Client.pt_Connection, pt_Reply.get());
    }
    const bool b_Sent = mb_Answer(pt_Call, pc_Id);
    dbus_free(pc_Id);
    return b_Sent;
}

} // namespace

bool b_Introspection_Answer(DBusMessage* pt_Message) {
    if (dbus_message_is_method_call(pt_Message, DBUS_INTERFACE_INTROSPECTABLE, "Introspect")) {
        const char* pc_Path = dbus_message_get_path(pt_Message);
        const char* pc_Xml = mpc_Xml(pc_Path != nullptr ? pc_Path : "");
        return pc_Xml != nullptr && mb_Answer(pt_Message, pc_Xml);
    }
    if (dbus_message_is_method_call(pt_Message, DBUS_INTERFACE_PEER, "Ping")) {
        return mb_Answer(pt_Message, nullptr);
    }
    if (dbus_message_is_method_call(pt_Message, DBUS_INTERFACE_PEER, "GetMachineId")) {
        return mb_AnswerMachineId(pt_Message);
    }
    return false;
}
