#include <gtest/gtest.h>

#include "alarms.h"

namespace varnakd {
namespace {

TEST(AlarmTrackerTest, RaisesAndClearsAfterTheirHoldTimes)
{
    // (condition, now): events expected with their times; hold 5, clear 3.
    const struct {
        bool condition;
        int64_t now;
        std::optional<int64_t> event;
    } steps[] = {
        {true, 10, std::nullopt}, {true, 14, std::nullopt}, {false, 15, std::nullopt},  // too short
        {true, 20, std::nullopt}, {true, 26, 25},                                        // raised at 20 + 5
        {false, 30, std::nullopt}, {true, 31, std::nullopt},                              // clear hold restarts
        {false, 40, std::nullopt}, {false, 44, 43},                                       // cleared at 40 + 3
    };
    AlarmTracker t;
    for (const auto& s : steps) EXPECT_EQ(t.update(s.condition, s.now, s.now, 5, 3), s.event) << s.now;
    EXPECT_FALSE(t.active());
}

}  // namespace
}  // namespace varnakd
