#include "watchdog_schedule.h"

#include "xlocd.h"

#include <cstdio>

namespace {

// 0 unless registered: the design sets the configured interval to 0 on a refusal,
// which comes to the same, and leaves the configuration as it was read.
std::int32_t s32_TriggerPeriod;
// Wall-clock seconds; 0 at start, so the first pass triggers at once. In 64 bits, so
// that triggers go on past 2038, and where time_t has 32 bits (Debian 12's armhf) a
// deadline one period after its last second need not saturate.
std::int64_t s64_NextTrigger;

} // namespace

void v_Watchdog_Register() {
    if (gt_Config.s32_WatchdogInterval <= 0) {
        return;
    }
    gt_Client.s32_WatchdogInterval = gt_Config.s32_WatchdogInterval;
    std::snprintf(gt_Client.acn_WatchdogCmd, sizeof gt_Client.acn_WatchdogCmd, "%s",
                  gt_Config.acn_CmdOnWatchdog);
    if (s32_DBUS_RegisterWatchdog(&gt_Client) != 0) {
        return; // silently: the loop never triggers
    }
    const std::int32_t s32_Half = gt_Config.s32_WatchdogInterval / 2;
    s32_TriggerPeriod = s32_Half < 1 ? 1 : s32_Half;
}

void v_Watchdog_Pass(std::int64_t s64_Wall) {
    if (s32_TriggerPeriod > 0 && s64_Wall >= s64_NextTrigger) {
        s32_DBUS_TriggerWatchdog(&gt_Client);
        s64_NextTrigger = s64_Wall + s32_TriggerPeriod;
    }
}

std::int64_t s64_Watchdog_NextDeadline() {
    return s32_TriggerPeriod > 0 ? s64_NextTrigger : INT64_MAX;
}

void v_Watchdog_ClockSetBack(std::int64_t s64_Seconds) {
    s64_NextTrigger -= s64_Seconds;
}

void v_Watchdog_Cancel() {
    s32_DBUS_CancelWatchdog(&gt_Client);
}
