// The loop's next wait as a function of the deadlines its modules name.
#include "core/deadlines.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr timespec kWallNow{1796515200, 250000000}; // 2026-12-06 00:00:00.25
constexpr double kBootNow = 1000.0;

struct WaitCase {
    const char* pc_What;
    T_Deadlines t_Deadlines;
    std::int64_t s64_Ms;
};

TEST(NextWait, IsTheEarliestDeadlineOfEitherClock) {
    const std::int64_t kNone = T_Deadlines::kNoWall;
    const WaitCase at_Cases[] = {
        {"nothing due: no timeout", {false, kNone, INFINITY}, -1},
        {"work waiting: no wait", {true, kNone, 1001.0}, 0},
        {"a wall second: 5 ms past its start", {false, 1796515202, INFINITY}, 1755},
        {"a passed wall second", {false, 1796515100, INFINITY}, 0},
        {"a boot deadline, rounded up", {false, kNone, 1000.0004}, 1},
        {"a passed boot deadline", {false, kNone, 999.0}, 0},
        {"the earlier of the two: boot", {false, 1796515202, 1000.5}, 500},
        {"the earlier of the two: wall", {false, 1796515201, 1002.0}, 755},
        {"a wall second far ahead: a day", {false, kNone - 1, INFINITY}, 86400000},
        {"a NaN boot deadline is none", {false, kNone, NAN}, -1},
    };
    for (const WaitCase& t_Case : at_Cases) {
        EXPECT_EQ(t_Case.s64_Ms, s64_NextWait_Ms(t_Case.t_Deadlines, kWallNow, kBootNow))
            << t_Case.pc_What;
    }
}

} // namespace
