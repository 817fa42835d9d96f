#include "sim/receiver_fix.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "sim/seeded_draw.h"
#include "sim/sky_signals.h"

namespace kestrune {

namespace {

constexpr double kMaxLatitude = 90.0;
constexpr double kMaxLongitude = 180.0;
constexpr double kLowestAltitude = -500.0;
constexpr double kHighestAltitude = 100000.0;
constexpr double kMetresPerDegree = 111320.0;
// Keeps the metres-to-degrees factor of longitude finite at the poles.
constexpr double kSmallestParallelScale = 1e-3;
constexpr double kRadiansPerDegree = std::numbers::pi / 180.0;

constexpr int kSeedShift = 32;
constexpr int kDrawsPerPosition = 3;
// Tries at a jitter whose position report holds no DLE before taking the last one.
constexpr int kJitterTries = 8;

// The position report carries latitude and longitude as singles in radians and the altitude as a
// single. Without a DLE among them, a host that starts listening in the middle of a report cannot
// take its tail for a packet of its own.
bool reportHoldsDle(const Place& p) {
    return singleHoldsDle(static_cast<float>(p.latitudeDegrees * kRadiansPerDegree)) ||
           singleHoldsDle(static_cast<float>(p.longitudeDegrees * kRadiansPerDegree)) ||
           singleHoldsDle(static_cast<float>(p.altitudeMetres));
}

Place jittered(const Place& place, std::uint64_t stream) {
    const double parallelScale =
        std::max(std::cos(place.latitudeDegrees * kRadiansPerDegree), kSmallestParallelScale);
    Place p = place;
    p.latitudeDegrees += seededDraw(stream, 0) * kHorizontalJitterMetres / kMetresPerDegree;
    p.longitudeDegrees +=
        seededDraw(stream, 1) * kHorizontalJitterMetres / (kMetresPerDegree * parallelScale);
    p.altitudeMetres += seededDraw(stream, 2) * kVerticalJitterMetres;
    p.latitudeDegrees = std::clamp(p.latitudeDegrees, -kMaxLatitude, kMaxLatitude);
    return p;
}

}  // namespace

bool isValidPlace(const Place& place) {
    return std::abs(place.latitudeDegrees) <= kMaxLatitude &&
           std::abs(place.longitudeDegrees) <= kMaxLongitude &&
           place.altitudeMetres >= kLowestAltitude && place.altitudeMetres <= kHighestAltitude;
}

Fix fixAt(const Place& place, std::uint32_t jitterSeed, std::chrono::system_clock::time_point now) {
    Fix fix{fixTimeAt(now), place, {}};
    fix.satelliteSignals = skySignalsAt(jitterSeed, fix.time.utc);
    const auto second = static_cast<std::uint64_t>(fix.time.utc.time_since_epoch().count());
    const std::uint64_t stream = (std::uint64_t{jitterSeed} << kSeedShift) ^ second;
    for (int attempt = 0; attempt < kJitterTries; ++attempt) {
        fix.position = jittered(place, mixBits(stream) + attempt * kDrawsPerPosition);
        if (!reportHoldsDle(fix.position)) {
            break;
        }
    }
    return fix;
}

}  // namespace kestrune
