#include "core/timebase.h"

#include <ctime>

namespace {

double mf64_Seconds(clockid_t t_Clock) {
    timespec t_Now{};
    clock_gettime(t_Clock, &t_Now);
    return static_cast<double>(t_Now.tv_sec) + static_cast<double>(t_Now.tv_nsec) / 1e9;
}

} // namespace

std::int64_t s64_Timebase_Wall() {
    return std::time(nullptr);
}

double f64_Timebase_Boot() {
    return mf64_Seconds(CLOCK_BOOTTIME);
}

double f64_Timebase_WallOffset() {
    return mf64_Seconds(CLOCK_REALTIME) - f64_Timebase_Boot();
}
