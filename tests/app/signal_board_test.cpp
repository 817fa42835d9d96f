#include "app/signal_board.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrune::test {
namespace {

using namespace std::chrono_literals;
using Clock = SignalBoard::Clock;
const Clock::time_point kStart{1h};

std::vector<std::string> texts(const SignalBoard& board, Clock::time_point now) {
    std::vector<std::string> shown;
    for (const SatelliteBar& bar : board.bars(now)) {
        shown.push_back(barText(bar));
    }
    return shown;
}

// Levels noted out of order come out in PRN order, the latest level of each; a satellite greys
// after 10 s unheard and is gone after 30, while one still reported stays fresh.
TEST(SignalBoard, AgesDropsAndKeepsPrnOrder) {
    SignalBoard board;
    board.note(30, 23, kStart);
    board.note(3, 50, kStart);
    board.note(17, 29, kStart);
    board.note(17, 42, kStart + 1s);
    board.note(255, -5, kStart + 1s);
    const struct {
        Clock::duration after;
        std::vector<std::string> expected;
    } rows[] = {
        {1s,
         {"PRN 3: 50 dB-Hz, strong", "PRN 17: 42 dB-Hz, strong", "PRN 30: 23 dB-Hz, weak",
          "PRN 255: 0 dB-Hz, weak"}},
        {10s,
         {"PRN 3: 50 dB-Hz, strong, not heard for 10 s", "PRN 17: 42 dB-Hz, strong",
          "PRN 30: 23 dB-Hz, weak, not heard for 10 s", "PRN 255: 0 dB-Hz, weak"}},
        {30s,
         {"PRN 17: 42 dB-Hz, strong, not heard for 29 s",
          "PRN 255: 0 dB-Hz, weak, not heard for 29 s"}},
        {31s, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.after.count());
        EXPECT_EQ(texts(board, kStart + row.after), row.expected);
    }
    EXPECT_EQ(noSatellitesText(board.lastHeard(), kStart + 42s),
              "No satellites: the last was heard 41 s ago");
    EXPECT_EQ(noSatellitesText(SignalBoard{}.lastHeard(), kStart), "No satellites reported yet");
}

TEST(SignalBoard, StrengthBandsMeetAtTheirThresholds) {
    const std::pair<std::int32_t, SignalStrength> rows[] = {
        {0, SignalStrength::Weak},    {29, SignalStrength::Weak},   {30, SignalStrength::Usable},
        {39, SignalStrength::Usable}, {40, SignalStrength::Strong}, {99, SignalStrength::Strong}};
    for (const auto& [level, strength] : rows) {
        EXPECT_EQ(strengthOf(level), strength) << level;
    }
}

}  // namespace
}  // namespace kestrune::test
