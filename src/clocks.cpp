#include "clocks.h"

#include <ctime>

namespace {

double mf64_Seconds(clockid_t t_Clock) {
    timespec t_Now{};
    clock_gettime(t_Clock, &t_Now);
    return static_cast<double>(t_Now.tv_sec) + static_cast<double>(t_Now.tv_nsec) / 1e9;
}

} // namespace

std::int64_t s64_Now() {
    return std::time(nullptr);
}

double f64_Monotonic() {
    return mf64_Seconds(CLOCK_MONOTONIC);
}

double f64_WallOffset() {
    return mf64_Seconds(CLOCK_REALTIME) - f64_Monotonic();
}

std::int64_t s64_MsUntilWallSecond(std::int64_t s64_Second) {
    timespec t_Now{};
    clock_gettime(CLOCK_REALTIME, &t_Now);
    const std::int64_t s64_Ms = (s64_Second - static_cast<std::int64_t>(t_Now.tv_sec)) * 1000 -
                                t_Now.tv_nsec / 1000000;
    return s64_Ms > 0 ? s64_Ms : 0;
}
