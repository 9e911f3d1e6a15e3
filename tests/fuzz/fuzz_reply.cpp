// The GetGPSData formatting over arbitrary fix states: every byte pattern of the
// record, so NaN, infinities, huge and negative values and unterminated texts.
#include "clock_text.h"
#include "reply_format.h"

#include <cstdint>
#include <cstring>

namespace {
template <std::size_t... N> void mv_RequireTerminated(const char (&... acn_Fields)[N]) {
    if (((std::memchr(acn_Fields, 0, N) == nullptr) || ...)) {
        __builtin_trap();
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pu8_Data, std::size_t u32_Size) {
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
    return 0;
}
