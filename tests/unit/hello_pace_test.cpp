// HELLO answers to WhoIsThere: ten at once, then ten a second, the last one owed.
#include "bus/hello_pace.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(HelloPace, TenAnswersAtOnceThenOneOwedForAllTheRest) {
    T_HelloPace t_Pace;
    int s32_Sent = 0;
    for (int i = 0; i < 1000; ++i) {
        s32_Sent += b_HelloPace_Ask(&t_Pace, 100.0) ? 1 : 0;
    }
    EXPECT_EQ(10, s32_Sent);
    EXPECT_NEAR(100.1, f64_HelloPace_Due(t_Pace), 1e-9); // the next token
    EXPECT_FALSE(b_HelloPace_Take(&t_Pace, 100.05));
    EXPECT_TRUE(b_HelloPace_Take(&t_Pace, f64_HelloPace_Due(t_Pace)));
    EXPECT_TRUE(std::isinf(f64_HelloPace_Due(t_Pace))); // nothing owed after it
    EXPECT_FALSE(b_HelloPace_Take(&t_Pace, 200.0));
}

} // namespace
