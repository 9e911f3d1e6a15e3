// When the loop next needs a pass: the earliest of the deadlines its modules name. Each
// module that needs a pass of its own adds its deadlines through one function,
// void v_<Module>_Deadlines(T_Deadlines*), which the loop lists once.
#pragma once

#include <cmath>
#include <cstdint>
#include <ctime>
#include <limits>

struct T_Deadlines {
    static constexpr std::int64_t kNoWall = std::numeric_limits<std::int64_t>::max();

    bool b_Now = false;              // work is waiting: no wait at all
    std::int64_t s64_Wall = kNoWall; // a whole wall-clock second, as `time` gives it
    double f64_Boot = INFINITY;      // CLOCK_BOOTTIME seconds

    void v_Now(bool b_Waiting) { b_Now = b_Now || b_Waiting; }
    void v_Wall(std::int64_t s64_Second) {
        s64_Wall = s64_Second < s64_Wall ? s64_Second : s64_Wall;
    }
    void v_Boot(double f64_Seconds) { f64_Boot = std::fmin(f64_Boot, f64_Seconds); }
};

// Milliseconds to wait from the two clocks' readings: 0 when a pass is due now, -1
// when nothing is due at all. A wall-clock second is waited for a little past its
// start, since `time` may turn the second a clock tick after clock_gettime does;
// no wait is longer than a day (the loop wakes for a wall-clock step anyway).
std::int64_t s64_NextWait_Ms(const T_Deadlines& t_Deadlines, const timespec& t_WallNow,
                             double f64_BootNow);
