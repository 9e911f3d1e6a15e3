// libFuzzer targets, one per build (FUZZ_TARGET_<NAME>): the configuration reader; GetGPSData
// formatting over any bytes of the fix record; the receiver's dispatch of demarshalled messages.
#include "bus/reply_texts.h"
#include "clock/fix_time.h"
#include "config.h"
#include "orb_client.h"
#include "receiver_dispatch.hpp"

#include <cstdint>
#include <cstdio>
#include <cstring>

template <std::size_t... N> static void mv_RequireTerminated(const char (&... acn_Fields)[N]) {
    if (((std::memchr(acn_Fields, 0, N) == nullptr) || ...)) {
        __builtin_trap();
    }
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pu8_Data, std::size_t u32_Size) {
#if defined(FUZZ_TARGET_CONFIG)
    static FILE* const pt_Quiet = std::freopen("/dev/null", "w", stdout); // the reader's messages
    FILE* pt_File = fmemopen(const_cast<std::uint8_t*>(pu8_Data), u32_Size, "r");
    T_Config t_C{};
    s32_Config_Read(pt_File, &t_C);
    std::fclose(pt_File);
    mv_RequireTerminated(t_C.acn_LogFile, t_C.acn_RtcPath, t_C.acn_GpsSourceSpec,
                         t_C.acn_CmdOnWatchdog);
#elif defined(FUZZ_TARGET_REPLY)
    static T_ReplyTexts t_T{}; // kept across inputs, as the daemon keeps it
    T_GpsState t_State{};
    std::memcpy(&t_State, pu8_Data, u32_Size < sizeof t_State ? u32_Size : sizeof t_State);
    v_Reply_Refresh(&t_T, t_State);
    mv_RequireTerminated(t_T.acn_Latitude, t_T.acn_Longitude, t_T.acn_Altitude, t_T.acn_Time,
                         t_T.acn_Satellites, t_T.acn_Quality, t_T.acn_Speed, t_T.acn_Course,
                         t_T.acn_Date, t_T.acn_UTC);
    char acn_Date[XLOCD_DATE_TEXT_SIZE];
    if (e_Clock_DateText(t_State.f64_Time, acn_Date) == ClockGate::Go) {
        (void)t_Clock_RtcRecord(acn_Date);
    }
#else
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
        orb::b_DispatchEvent(pt_Message);
        dbus_message_unref(pt_Message);
    }
#endif
    return 0;
}
