#include "sim/gps_time.h"

namespace kestrune {

namespace {

// 6 January 1980, 00:00:00 UTC: week 0, second 0 of GPS time.
constexpr std::chrono::sys_days kGpsEpoch =
    std::chrono::year_month_day(std::chrono::year(1980), std::chrono::January, std::chrono::day(6));

}  // namespace

FixTime fixTimeAt(std::chrono::system_clock::time_point now) {
    FixTime time;
    time.utc = std::chrono::floor<std::chrono::seconds>(now);
    const std::int64_t gpsSeconds = (time.utc - kGpsEpoch).count() + kLeapSeconds;
    // A host clock set before 1980 gives week 0 rather than a negative count.
    if (gpsSeconds > 0) {
        time.gpsWeek = static_cast<std::uint32_t>(gpsSeconds / kSecondsPerWeek);
        time.timeOfWeek = static_cast<std::uint32_t>(gpsSeconds % kSecondsPerWeek);
    }
    return time;
}

}  // namespace kestrune
