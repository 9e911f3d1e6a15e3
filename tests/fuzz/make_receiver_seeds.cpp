// Writes marshalled framework messages as seeds for fuzz_receiver: one byte of
// callback mask, then the message.
#include <dbus/dbus.h>

#include <cstdio>
#include <string>

namespace {

void v_Write(const std::string& t_Dir, const char* pc_Name, DBusMessage* pt_Message,
             unsigned char u8_Mask) {
    char* pc_Bytes = nullptr;
    int s32_Len = 0;
    dbus_message_set_serial(pt_Message, 1);
    if (dbus_message_marshal(pt_Message, &pc_Bytes, &s32_Len)) {
        FILE* pt_Out = std::fopen((t_Dir + "/" + pc_Name).c_str(), "wb");
        std::fputc(u8_Mask, pt_Out);
        std::fwrite(pc_Bytes, 1, static_cast<std::size_t>(s32_Len), pt_Out);
        std::fclose(pt_Out);
        dbus_free(pc_Bytes);
    }
    dbus_message_unref(pt_Message);
}

DBusMessage* pt_Signal(const char* pc_Interface, const char* pc_Member, const char* pc_A,
                       const char* pc_B) {
    DBusMessage* pt_M = dbus_message_new_signal("/zel/orb/peer/Object", pc_Interface, pc_Member);
    if (pc_A)
        dbus_message_append_args(pt_M, DBUS_TYPE_STRING, &pc_A, DBUS_TYPE_INVALID);
    if (pc_B)
        dbus_message_append_args(pt_M, DBUS_TYPE_STRING, &pc_B, DBUS_TYPE_INVALID);
    return pt_M;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return 2;
    const std::string t_Dir = argv[1];
    v_Write(t_Dir, "hello", pt_Signal("zel.orb.broadcast", "HELLO", "xlocd", "v3_03r1"), 0x3f);
    v_Write(t_Dir, "goodbye", pt_Signal("zel.orb.broadcast", "GOODBYE", "xlocd", nullptr), 0x3f);
    v_Write(t_Dir, "sms", pt_Signal("zel.orb.xtxtd", "SMS", "+49170", "text"), 0x3f);
    v_Write(t_Dir, "network", pt_Signal("zel.orb.xlinkd", "Network_Notification", "UP", "3G"),
            0x3f);
    v_Write(t_Dir, "indicator",
            pt_Signal("zel.orb.broadcast", "NetworkResponseTimeIndicator", "9", nullptr), 0x3f);
    v_Write(t_Dir, "whoisthere", pt_Signal("zel.orb.broadcast", "WhoIsThere", nullptr, nullptr),
            0x3f);
    v_Write(t_Dir, "other",
            dbus_message_new_method_call("zel.orb.a", "/zel/orb/a/Object", "zel.orb.a", "M"), 0x7f);
    return 0;
}
