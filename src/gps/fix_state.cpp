#include "gps/fix_state.h"

#include "gps/fix_rule.h"

#include <cmath>

namespace {

std::int32_t gs32_MaxAge;
T_GpsState gt_State;
std::uint8_t gu8_MissCount;
std::uint32_t gu32_Version;
double gf64_LastFix; // CLOCK_BOOTTIME seconds of the last fix folded

double mf64_Expiry() {
    const bool b_Ages = gs32_MaxAge > 0 && gt_State.u8_Valid == 1;
    return b_Ages ? gf64_LastFix + gs32_MaxAge : INFINITY;
}

} // namespace

void v_FixState_Start(std::int32_t s32_MaxAge) {
    gs32_MaxAge = s32_MaxAge;
}

const T_GpsState& t_FixState() {
    return gt_State;
}

std::uint32_t u32_FixState_Version() {
    return gu32_Version;
}

bool b_FixState_Fold(const T_GpsReport& t_Report, double f64_Boot) {
    const bool b_Fix = b_Fix_Fold(&gt_State, &gu8_MissCount, t_Report);
    if (b_Fix) {
        gf64_LastFix = f64_Boot;
    }
    ++gu32_Version;
    return b_Fix;
}

void v_FixState_Deadlines(T_Deadlines* pt_Next) {
    pt_Next->v_Boot(mf64_Expiry());
}

void v_FixState_Age(double f64_Boot) {
    if (f64_Boot >= mf64_Expiry()) {
        v_Fix_MarkNone(&gt_State, &gu8_MissCount);
        ++gu32_Version;
    }
}
