#include "sim/receiver_fix.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <numbers>

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

// splitmix64: a seed and a second in, well-mixed bits out.
constexpr std::uint64_t kGolden = 0x9E3779B97F4A7C15ull;
constexpr std::uint64_t kMixA = 0xBF58476D1CE4E5B9ull;
constexpr std::uint64_t kMixB = 0x94D049BB133111EBull;
constexpr int kShiftA = 30;
constexpr int kShiftB = 27;
constexpr int kShiftC = 31;
constexpr int kSeedShift = 32;
constexpr int kWordBits = 64;
constexpr int kMantissaBits = 53;
constexpr int kDrawsPerPosition = 3;
// Tries at a jitter whose position report holds no DLE before taking the last one.
constexpr int kJitterTries = 8;
constexpr std::uint8_t kDle = 0x10;
constexpr unsigned kBitsPerByte = 8;
constexpr std::uint32_t kByteMask = 0xFF;

std::uint64_t mix(std::uint64_t value) {
    value += kGolden;
    value = (value ^ (value >> kShiftA)) * kMixA;
    value = (value ^ (value >> kShiftB)) * kMixB;
    return value ^ (value >> kShiftC);
}

// A number from -1 to 1 for the draw'th value of this seed and second.
double draw(std::uint64_t stream, int index) {
    const std::uint64_t bits =
        mix(stream + static_cast<std::uint64_t>(index)) >> (kWordBits - kMantissaBits);
    return std::ldexp(static_cast<double>(bits), 1 - kMantissaBits) - 1.0;
}

bool singleHoldsDle(double value) {
    const auto bits = std::bit_cast<std::uint32_t>(static_cast<float>(value));
    for (unsigned shift = 0; shift < sizeof bits * kBitsPerByte; shift += kBitsPerByte) {
        if (((bits >> shift) & kByteMask) == kDle) {
            return true;
        }
    }
    return false;
}

// The position report carries latitude and longitude as singles in radians and the altitude as a
// single. Without a DLE among them, a host that starts listening in the middle of a report cannot
// take its tail for a packet of its own.
bool reportHoldsDle(const Place& p) {
    return singleHoldsDle(p.latitudeDegrees * kRadiansPerDegree) ||
           singleHoldsDle(p.longitudeDegrees * kRadiansPerDegree) ||
           singleHoldsDle(p.altitudeMetres);
}

Place jittered(const Place& place, std::uint64_t stream) {
    const double parallelScale =
        std::max(std::cos(place.latitudeDegrees * kRadiansPerDegree), kSmallestParallelScale);
    Place p = place;
    p.latitudeDegrees += draw(stream, 0) * kHorizontalJitterMetres / kMetresPerDegree;
    p.longitudeDegrees +=
        draw(stream, 1) * kHorizontalJitterMetres / (kMetresPerDegree * parallelScale);
    p.altitudeMetres += draw(stream, 2) * kVerticalJitterMetres;
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
    Fix fix{fixTimeAt(now), place};
    const auto second = static_cast<std::uint64_t>(fix.time.utc.time_since_epoch().count());
    const std::uint64_t stream = (std::uint64_t{jitterSeed} << kSeedShift) ^ second;
    for (int attempt = 0; attempt < kJitterTries; ++attempt) {
        fix.position = jittered(place, mix(stream) + attempt * kDrawsPerPosition);
        if (!reportHoldsDle(fix.position)) {
            break;
        }
    }
    return fix;
}

}  // namespace kestrune
