#include "bus/hello_pace.h"

#include <cmath>

namespace {

constexpr double kWhole = 1.0 - 1e-9; // a token, less what the floating point may lose

void mv_Refill(T_HelloPace* pt_Pace, double f64_Now) {
    const double f64_Gained = (f64_Now - pt_Pace->f64_Last) * T_HelloPace::kRate;
    if (f64_Gained > 0) {
        pt_Pace->f64_Tokens = std::fmin(T_HelloPace::kBurst, pt_Pace->f64_Tokens + f64_Gained);
    }
    pt_Pace->f64_Last = f64_Now;
}

bool mb_Spend(T_HelloPace* pt_Pace) {
    if (pt_Pace->f64_Tokens < kWhole) {
        return false;
    }
    pt_Pace->f64_Tokens = std::fmax(0.0, pt_Pace->f64_Tokens - 1.0);
    return true;
}

} // namespace

bool b_HelloPace_Ask(T_HelloPace* pt_Pace, double f64_Now) {
    mv_Refill(pt_Pace, f64_Now);
    if (pt_Pace->b_Owed) {
        return false; // the HELLO that is owed answers this one too
    }
    pt_Pace->b_Owed = !mb_Spend(pt_Pace);
    return !pt_Pace->b_Owed;
}

bool b_HelloPace_Take(T_HelloPace* pt_Pace, double f64_Now) {
    if (!pt_Pace->b_Owed) {
        return false;
    }
    mv_Refill(pt_Pace, f64_Now);
    pt_Pace->b_Owed = !mb_Spend(pt_Pace);
    return !pt_Pace->b_Owed;
}

double f64_HelloPace_Due(const T_HelloPace& t_Pace) {
    if (!t_Pace.b_Owed) {
        return INFINITY;
    }
    return t_Pace.f64_Last + std::fmax(0.0, 1.0 - t_Pace.f64_Tokens) / T_HelloPace::kRate;
}
