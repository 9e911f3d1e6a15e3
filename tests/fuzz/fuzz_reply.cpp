// The GetGPSData formatting over arbitrary fix states: every byte pattern of the
// record, so NaN, infinities, huge and negative values and unterminated texts.
#include "clock_text.h"
#include "reply_format.h"

#include <cstdint>
#include <cstring>

namespace {
template <std::size_t N> void mv_RequireTerminated(const char (&acn_Text)[N]) {
    if (std::memchr(acn_Text, 0, N) == nullptr) {
        __builtin_trap();
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pu8_Data, std::size_t u32_Size) {
    static T_ReplyTexts t_Texts{}; // kept across inputs, as the daemon keeps it
    T_GpsState t_State{};
    std::memcpy(&t_State, pu8_Data, u32_Size < sizeof t_State ? u32_Size : sizeof t_State);
    v_Reply_Refresh(&t_Texts, t_State);
    mv_RequireTerminated(t_Texts.acn_Latitude);
    mv_RequireTerminated(t_Texts.acn_Longitude);
    mv_RequireTerminated(t_Texts.acn_Altitude);
    mv_RequireTerminated(t_Texts.acn_Time);
    mv_RequireTerminated(t_Texts.acn_Satellites);
    mv_RequireTerminated(t_Texts.acn_Quality);
    mv_RequireTerminated(t_Texts.acn_Speed);
    mv_RequireTerminated(t_Texts.acn_Course);
    mv_RequireTerminated(t_Texts.acn_Date);
    mv_RequireTerminated(t_Texts.acn_UTC);
    char acn_Date[XLOCD_DATE_TEXT_SIZE];
    if (e_Clock_DateText(t_State.f64_Time, acn_Date) == ClockGate::Go) {
        (void)t_Clock_RtcRecord(acn_Date);
    }
    return 0;
}
