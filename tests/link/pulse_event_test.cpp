#include <gtest/gtest.h>

#include <thread>

#include "link/platform_services.h"

namespace kestrune {
namespace {

using namespace std::chrono_literals;
constexpr auto kNoWait = 0ms;
constexpr auto kPatience = 10s;

TEST(PulseEvent, PulseReleasesAnArmedWait) {
    PulseEvent event;
    EventWait wait(event);
    event.pulse();
    EXPECT_EQ(wait.wait(kNoWait), WaitResult::First);
}

TEST(PulseEvent, PulseBeforeArmingIsForgotten) {
    PulseEvent event;
    event.pulse();
    EventWait wait(event);
    EXPECT_EQ(wait.wait(1ms), WaitResult::TimedOut);
}

TEST(PulseEvent, PulseAfterAWaitEndedDoesNotReachTheNextOne) {
    PulseEvent event;
    {
        EventWait first(event);
        EXPECT_EQ(first.wait(kNoWait), WaitResult::TimedOut);
    }
    event.pulse();
    EventWait second(event);
    EXPECT_EQ(second.wait(kNoWait), WaitResult::TimedOut);
}

TEST(PulseEvent, WaitOnTwoTellsWhichWasPulsedFirst) {
    PulseEvent a;
    PulseEvent b;
    {
        EventWait wait(a, b);
        b.pulse();
        a.pulse();
        EXPECT_EQ(wait.wait(kNoWait), WaitResult::Second);
    }
    {
        EventWait wait(a, b);
        a.pulse();
        EXPECT_EQ(wait.wait(kNoWait), WaitResult::First);
    }
}

TEST(PulseEvent, OnePulseReleasesEveryArmedWait) {
    PulseEvent event;
    EventWait one(event);
    EventWait two(event);
    event.pulse();
    EXPECT_EQ(one.wait(kNoWait), WaitResult::First);
    EXPECT_EQ(two.wait(kNoWait), WaitResult::First);
}

TEST(PulseEvent, PulseFromAnotherThreadReleasesABlockedWait) {
    PulseEvent event;
    EventWait wait(event);
    std::thread pulser([&] { event.pulse(); });
    EXPECT_EQ(wait.wait(kPatience), WaitResult::First);
    pulser.join();
}

}  // namespace
}  // namespace kestrune
