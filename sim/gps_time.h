// The receiver's time, from the host's clock: UTC for the NMEA sentences, and GPS time (UTC plus
// the leap seconds since the GPS epoch) as a week count and a second of the week for the TSIP
// reports. Both are whole seconds, as a receiver stamps a fix once per second.
#pragma once

#include <chrono>
#include <cstdint>

namespace kestrune {

// GPS time minus UTC since the start of 2017.
inline constexpr std::int64_t kLeapSeconds = 18;
inline constexpr std::int64_t kSecondsPerWeek = 7 * 24 * 3600;

struct FixTime {
    std::chrono::sys_seconds utc;  // UTC, leap seconds not counted, as the host keeps it
    std::uint32_t gpsWeek = 0;     // full week count since 6 January 1980
    std::uint32_t timeOfWeek = 0;  // GPS seconds since the start of gpsWeek
    bool operator==(const FixTime&) const = default;
};

// The time of the fix that a moment of the host's clock falls in.
FixTime fixTimeAt(std::chrono::system_clock::time_point now);

}  // namespace kestrune
