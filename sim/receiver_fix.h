// Where the virtual receiver stands, and the fix it reports: the host's time, the sky's signals,
// and the place with a small jitter, as a receiver standing still never reports quite the same
// position twice. The jitter and the signals are drawn from a seed and the second of the fix, so
// a seed replays the same fixes and every report of one second carries the same one.
#pragma once

#include <chrono>
#include <cstdint>

#include "sim/gps_time.h"
#include "sim/sky_signals.h"

namespace kestrune {

struct Place {
    double latitudeDegrees = 0.0;   // north positive
    double longitudeDegrees = 0.0;  // east positive
    double altitudeMetres = 0.0;    // above the WGS-84 ellipsoid
    bool operator==(const Place&) const = default;
};

// Open country, a little above sea level.
inline constexpr Place kDefaultPlace{52.22402, 4.96878, 58.6};

// Jitter stays within these distances of the place, in metres.
inline constexpr double kHorizontalJitterMetres = 0.2;
inline constexpr double kVerticalJitterMetres = 0.3;

// A latitude of -90 to 90 degrees, a longitude of -180 to 180 and an altitude from the deepest
// dry land to low orbit, all finite.
bool isValidPlace(const Place& place);

struct Fix {
    FixTime time;
    Place position;
    // The sky's signals this second, in the sky's channel order.
    SkySignals satelliteSignals{};
};

Fix fixAt(const Place& place, std::uint32_t jitterSeed, std::chrono::system_clock::time_point now);

}  // namespace kestrune
