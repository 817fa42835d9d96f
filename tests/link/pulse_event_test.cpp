#include "link/pulse_event.h"

#include <gtest/gtest.h>

#include <thread>

namespace kestrune::test {
namespace {

using namespace std::chrono_literals;
constexpr auto kNoWait = 0ms;
// Longer than any test run: a wait that is not woken shows as a hung test, never a flaky one.
constexpr auto kForever = std::chrono::hours(1);

TEST(PulseEvent, OnlyWaitsArmedAtThePulseAreReleased) {
    PulseEvent event;
    event.pulse();
    EventWait armedAfter(event);
    EXPECT_EQ(armedAfter.wait(1ms), WaitResult::TimedOut);
    {
        EventWait ended(event);
        EXPECT_EQ(ended.wait(kNoWait), WaitResult::TimedOut);
    }
    // Every armed wait is released, and a wait on two says which was pulsed first.
    PulseEvent other;
    EventWait one(event);
    EventWait two(other, event);
    EventWait three(event, other);
    event.pulse();
    other.pulse();
    EXPECT_EQ(one.wait(kNoWait), WaitResult::First);
    EXPECT_EQ(two.wait(kNoWait), WaitResult::Second);
    EXPECT_EQ(three.wait(kNoWait), WaitResult::First);
}

TEST(PulseEvent, PulseFromAnotherThreadReleasesABlockedWait) {
    PulseEvent event;
    EventWait wait(event);
    std::thread pulser([&] { event.pulse(); });
    EXPECT_EQ(wait.wait(kForever), WaitResult::First);
    pulser.join();
}

TEST(Cancellation, EndsWaitsAndSleepsWhetherRaisedBeforeOrDuring) {
    PulseEvent event;
    Cancellation cancellation;
    EXPECT_TRUE(cancellation.sleepFor(1ms));
    {
        EventWait wait(event, &cancellation);
        std::thread canceller([&] { cancellation.cancel(); });
        EXPECT_EQ(wait.wait(kForever), WaitResult::Cancelled);
        canceller.join();
    }
    EventWait armedAfter(event, event, &cancellation);
    EXPECT_EQ(armedAfter.wait(kForever), WaitResult::Cancelled);
    EXPECT_FALSE(cancellation.sleepFor(kForever));

    cancellation.reset();
    EXPECT_FALSE(cancellation.raised());
    std::thread aborter([&] { cancellation.abort(); });
    EXPECT_FALSE(cancellation.sleepFor(kForever));
    aborter.join();
    EXPECT_TRUE(cancellation.aborted());
    EXPECT_FALSE(cancellation.cancelled());
}

}  // namespace
}  // namespace kestrune::test
