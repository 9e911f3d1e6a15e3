#include "bus/xcord_watchdog.h"

#include "bus/bus_link.h"

namespace {

// 0 unless registered: the design sets the configured interval to 0 on a refusal,
// which comes to the same, and leaves the configuration as it was read.
std::int32_t s32_TriggerPeriod;
// Wall-clock seconds; 0 at start, so the first pass triggers at once. In 64 bits, so
// that triggers go on past 2038, and where time_t has 32 bits (Debian 12's armhf) a
// deadline one period after its last second need not saturate.
std::int64_t s64_NextTrigger;

} // namespace

void v_Watchdog_Start(std::int32_t s32_Interval, const char* pc_Command) {
    if (s32_Interval <= 0 || !b_BusLink_RegisterWatchdog(s32_Interval, pc_Command)) {
        return; // a refusal is silent: the loop never triggers
    }
    const std::int32_t s32_Half = s32_Interval / 2;
    s32_TriggerPeriod = s32_Half < 1 ? 1 : s32_Half;
}

void v_Watchdog_Pass(std::int64_t s64_Wall) {
    if (s32_TriggerPeriod > 0 && s64_Wall >= s64_NextTrigger) {
        v_BusLink_TriggerWatchdog();
        s64_NextTrigger = s64_Wall + s32_TriggerPeriod;
    }
}

void v_Watchdog_Deadlines(T_Deadlines* pt_Next) {
    if (s32_TriggerPeriod > 0) {
        pt_Next->v_Wall(s64_NextTrigger);
    }
}

void v_Watchdog_ClockSetBack(std::int64_t s64_Seconds) {
    s64_NextTrigger -= s64_Seconds;
}

void v_Watchdog_Cancel() {
    v_BusLink_CancelWatchdog();
}
