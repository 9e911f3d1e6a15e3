// The receiver's dispatch over messages demarshalled from fuzz bytes.
#include "orb_client.h"
#include "receiver_dispatch.hpp"

#include <cstdint>
#include <cstring>

namespace {
void v_Text(const char* pc_Text) {
    (void)std::strlen(pc_Text);
}
void v_Two(const char* pc_A, const char* pc_B) {
    (void)(std::strlen(pc_A) + std::strlen(pc_B));
}
void v_Other(DBusMessage* pt_Message) {
    (void)dbus_message_get_type(pt_Message);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pu8_Data, std::size_t u32_Size) {
    if (u32_Size < 1) {
        return 0;
    }
    // The first byte picks which callbacks are installed, so every rule is reached.
    const std::uint8_t u8_Mask = pu8_Data[0];
    v_DBUS_SetEventCallbacks(u8_Mask & 1 ? v_Two : nullptr, u8_Mask & 2 ? v_Text : nullptr,
                             u8_Mask & 4 ? v_Two : nullptr, u8_Mask & 8 ? v_Text : nullptr,
                             u8_Mask & 16 ? v_Text : nullptr, u8_Mask & 32 ? v_Text : nullptr,
                             u8_Mask & 64 ? v_Other : nullptr);
    DBusError t_Error;
    dbus_error_init(&t_Error);
    DBusMessage* pt_Message = dbus_message_demarshal(reinterpret_cast<const char*>(pu8_Data + 1),
                                                     static_cast<int>(u32_Size - 1), &t_Error);
    dbus_error_free(&t_Error);
    if (pt_Message != nullptr) {
        b_DBUS_DispatchEvent(pt_Message);
        dbus_message_unref(pt_Message);
    }
    return 0;
}
