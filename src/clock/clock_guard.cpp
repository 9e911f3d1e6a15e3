#include "clock/clock_guard.h"

#include <cmath>

void v_ClockGuard_Fold(T_ClockGuard* pt_Guard, bool b_Position, bool b_Fix, double f64_FixTime) {
    if (!b_Position) {
        return;
    }
    const double f64_Step = f64_FixTime - pt_Guard->f64_LastTime;
    if (!b_Fix || std::isnan(f64_FixTime)) {
        pt_Guard->s32_Streak = 0; // a fix without a time proves nothing
    } else if (pt_Guard->s32_Streak > 0 && f64_Step == 0) {
        return; // gpsd reports one epoch again as more of its sentences arrive
    } else if (pt_Guard->s32_Streak > 0 && f64_Step > 0 && f64_Step <= 2) {
        pt_Guard->s32_Streak += pt_Guard->s32_Streak < INT32_MAX ? 1 : 0;
    } else {
        pt_Guard->s32_Streak = 1;
    }
    pt_Guard->f64_LastTime = f64_FixTime;
}

ClockRefusal e_ClockGuard_Check(const T_ClockGuard& t_Guard, std::int32_t s32_MinFixes,
                                std::int64_t s64_NotBefore, double f64_FixTime) {
    if (s64_NotBefore > 0 && !(f64_FixTime >= static_cast<double>(s64_NotBefore))) {
        return ClockRefusal::BeforeDate;
    }
    return t_Guard.s32_Streak < s32_MinFixes ? ClockRefusal::TooFewFixes : ClockRefusal::None;
}
