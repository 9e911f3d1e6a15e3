// The receiver's dispatch over messages demarshalled from fuzz bytes.
#include "orb_client.h"
#include "receiver_dispatch.hpp"

#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pu8_Data, std::size_t u32_Size) {
    if (u32_Size < 1) {
        return 0;
    }
    // The first byte picks which callbacks are installed, so every rule is reached; the
    // callbacks read what they are given.
    const pf_DBUS_OnText pf_Text = [](const char* pc_A) { (void)std::strlen(pc_A); };
    const pf_DBUS_OnTwoTexts pf_Two = [](const char* pc_A, const char* pc_B) {
        (void)(std::strlen(pc_A) + std::strlen(pc_B));
    };
    const pf_DBUS_OnMessage pf_Other = [](DBusMessage* pt_M) { (void)dbus_message_get_type(pt_M); };
    const std::uint8_t u8_Mask = pu8_Data[0];
    v_DBUS_SetEventCallbacks(u8_Mask & 1 ? pf_Two : nullptr, u8_Mask & 2 ? pf_Text : nullptr,
                             u8_Mask & 4 ? pf_Two : nullptr, u8_Mask & 8 ? pf_Text : nullptr,
                             u8_Mask & 16 ? pf_Text : nullptr, u8_Mask & 32 ? pf_Text : nullptr,
                             u8_Mask & 64 ? pf_Other : nullptr);
    DBusMessage* pt_Message = dbus_message_demarshal(reinterpret_cast<const char*>(pu8_Data + 1),
                                                     static_cast<int>(u32_Size - 1), nullptr);
    if (pt_Message != nullptr) {
        b_DBUS_DispatchEvent(pt_Message);
        dbus_message_unref(pt_Message);
    }
    return 0;
}
