#include "sim/sky_signals.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <vector>

#include "protocol/tsip_reports.h"
#include "sim/seeded_draw.h"

namespace kestrune::test {
namespace {

using std::chrono::sys_seconds;
constexpr sys_seconds kStart{std::chrono::seconds{1'796'000'000}};
constexpr int kTenMinutes = 600;

// Over ten minutes of each of three seeds: a level never moves more than a dB-Hz in a second nor
// strays more than 4 from its satellite's, the TSIP level reads back as the NMEA one, no single
// holds a DLE, and every level moves at some point. A seed replays its levels; seeds differ.
TEST(SkySignals, DriftSlowlyAboutTheSkyAndReplayBySeed) {
    std::vector<SkySignals> firstOfEachSeed;
    for (const std::uint32_t seed : {1u, 2u, 77u}) {
        SCOPED_TRACE(seed);
        SkySignals previous = skySignalsAt(seed, kStart);
        firstOfEachSeed.push_back(previous);
        std::array<std::set<int>, kSky.size()> seen{};
        for (int second = 1; second < kTenMinutes; ++second) {
            const SkySignals now = skySignalsAt(seed, kStart + std::chrono::seconds{second});
            for (std::size_t i = 0; i < kSky.size(); ++i) {
                EXPECT_LE(std::abs(now[i].snrDbHz - previous[i].snrDbHz), 1);
                EXPECT_LE(std::abs(now[i].snrDbHz - kSky[i].snrDbHz), 4);
                EXPECT_EQ(signalLevelValue(now[i].level), now[i].snrDbHz);
                EXPECT_FALSE(singleHoldsDle(now[i].level));
                seen[i].insert(now[i].snrDbHz);
            }
            previous = now;
        }
        for (const std::set<int>& levels : seen) {
            EXPECT_GT(levels.size(), 1u);
        }
        EXPECT_EQ(skySignalsAt(seed, kStart + std::chrono::seconds{5}),
                  skySignalsAt(seed, kStart + std::chrono::seconds{5}));
    }
    EXPECT_NE(firstOfEachSeed[0], firstOfEachSeed[1]);
    EXPECT_NE(firstOfEachSeed[1], firstOfEachSeed[2]);
}

}  // namespace
}  // namespace kestrune::test
