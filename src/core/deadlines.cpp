#include "core/deadlines.h"

#include <algorithm>

namespace {

constexpr std::int64_t kWallMarginMs = 5;
constexpr std::int64_t kLongestMs = 86400 * 1000LL;

std::int64_t ms64_UntilWall(std::int64_t s64_Second, const timespec& t_Now) {
    std::int64_t s64_Ahead = 0;
    if (__builtin_sub_overflow(s64_Second, static_cast<std::int64_t>(t_Now.tv_sec), &s64_Ahead)) {
        s64_Ahead = kLongestMs; // only a second beyond any clock's range gets here
    }
    const std::int64_t s64_Seconds = std::clamp<std::int64_t>(s64_Ahead, 0, kLongestMs / 1000 + 1);
    const std::int64_t s64_Ms = s64_Seconds * 1000 - t_Now.tv_nsec / 1000000 + kWallMarginMs;
    return std::clamp<std::int64_t>(s64_Ms, 0, kLongestMs);
}

std::int64_t ms64_UntilBoot(double f64_Deadline, double f64_Now) {
    const double f64_Ms = std::ceil((f64_Deadline - f64_Now) * 1000.0);
    return static_cast<std::int64_t>(std::clamp(f64_Ms, 0.0, static_cast<double>(kLongestMs)));
}

} // namespace

std::int64_t s64_NextWait_Ms(const T_Deadlines& t_Deadlines, const timespec& t_WallNow,
                             double f64_BootNow) {
    if (t_Deadlines.b_Now) {
        return 0;
    }
    std::int64_t s64_Ms = -1;
    if (t_Deadlines.s64_Wall != T_Deadlines::kNoWall) {
        s64_Ms = ms64_UntilWall(t_Deadlines.s64_Wall, t_WallNow);
    }
    if (t_Deadlines.f64_Boot < INFINITY) { // NaN is no deadline either
        const std::int64_t s64_Boot = ms64_UntilBoot(t_Deadlines.f64_Boot, f64_BootNow);
        s64_Ms = s64_Ms < 0 ? s64_Boot : std::min(s64_Ms, s64_Boot);
    }
    return s64_Ms;
}
