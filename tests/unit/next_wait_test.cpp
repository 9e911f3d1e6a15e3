// The loop's next wait as a function of the deadlines its modules name.
#include "core/deadlines.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

namespace {

constexpr timespec kWallNow{1796515200, 250000000}; // 2026-12-06 00:00:00.25
constexpr double kBootNow = 1000.0;

TEST(NextWait, IsTheEarliestDeadlineOfEitherClock) {
    const std::int64_t kNone = T_Deadlines::kNoWall;
    const std::tuple<const char*, T_Deadlines, std::int64_t> at_Cases[] = {
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
    for (const auto& [pc_What, t_Deadlines, s64_Ms] : at_Cases) {
        EXPECT_EQ(s64_Ms, s64_NextWait_Ms(t_Deadlines, kWallNow, kBootNow)) << pc_What;
    }
}

} // namespace
