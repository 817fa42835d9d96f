#include "sim/sky_signals.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "sim/seeded_draw.h"

namespace kestrune {

namespace {

// Enough to carry a satellite across a strength boundary now and then, as a real sky does when
// a satellite passes behind a tree; the shortest period keeps the drift under a dB-Hz a second
// (2 pi 4 / 60 = 0.42 dB-Hz/s at its steepest).
constexpr double kDriftDbHz = 4.0;
constexpr double kShortestPeriodS = 60.0;
constexpr double kLongestPeriodS = 180.0;
constexpr double kHighestSnr = 99.0;
// A host reads a level in amplitude units as 20 log10(AMU) + 22.8 dB-Hz.
constexpr double kAmuOffsetDb = 22.8;
constexpr double kDecibelFactor = 20.0;
constexpr double kDecibelBase = 10.0;
// A nudge too small to move the level's dB-Hz, tried until no byte of its single is a DLE.
constexpr float kDleNudge = 1.0f + 1e-5f;
constexpr int kDleTries = 8;

float amplitudeUnits(double snrDbHz) {
    auto level =
        static_cast<float>(std::pow(kDecibelBase, (snrDbHz - kAmuOffsetDb) / kDecibelFactor));
    for (int attempt = 0; attempt < kDleTries && singleHoldsDle(level); ++attempt) {
        level *= kDleNudge;
    }
    return level;
}

}  // namespace

SkySignals skySignalsAt(std::uint32_t seed, std::chrono::sys_seconds utc) {
    const auto seconds = static_cast<double>(utc.time_since_epoch().count());
    SkySignals sky{};
    for (std::size_t channel = 0; channel < kSky.size(); ++channel) {
        const std::uint64_t stream = mixBits(std::uint64_t{seed} ^ kSky[channel].prn);
        // Draws from -1 to 1 become a period and a phase.
        const double period = kShortestPeriodS + (seededDraw(stream, 0) + 1.0) / 2.0 *
                                                     (kLongestPeriodS - kShortestPeriodS);
        const double phase = seededDraw(stream, 1) * std::numbers::pi;
        const double wave = std::sin(2.0 * std::numbers::pi * seconds / period + phase);
        const double snr =
            std::clamp(std::round(kSky[channel].snrDbHz + kDriftDbHz * wave), 0.0, kHighestSnr);
        sky[channel] = {static_cast<std::uint8_t>(snr), amplitudeUnits(snr)};
    }
    return sky;
}

}  // namespace kestrune
