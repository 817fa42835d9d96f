// The virtual receiver's clock. Every delay of the device (reply delay, line break and quiet,
// output interval, byte pacing) can be shrunk by one factor for tests. Millisecond delays are
// rounded by the same scaleDelay as the link's own timing, so a host and a receiver sped up by the
// same factor agree on every boundary (a 600 ms break scaled on one side is long enough on the
// other).
#pragma once

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>

#include "link/timing.h"

namespace kestrune {

using SimTime = std::chrono::steady_clock::time_point;
using SimDuration = std::chrono::steady_clock::duration;

class SimClock {
  public:
    // A factor that is not a positive finite number runs the clock at real time.
    explicit SimClock(double factor = 1.0)
        : factor_(std::isfinite(factor) && factor > 0.0 ? factor : 1.0) {}

    double factor() const { return factor_; }

    // The delay multiplied by the factor, rounded to whole milliseconds, at least one.
    SimDuration scaled(std::chrono::milliseconds delay) const { return scaleDelay(delay, factor_); }

    // How long bits bits take on the line at baud, times the factor, clamped like every scaled
    // delay so that a time point plus it cannot overflow. Every time on a line is counted with
    // it, so the two ends agree to the nanosecond on where a bit begins.
    SimDuration bitsTime(double bits, std::uint32_t baud) const {
        if (baud == 0) {
            return SimDuration::zero();
        }
        const std::chrono::duration<double> seconds(factor_ * bits / baud);
        const std::chrono::duration<double> longest(kLongestScaledDelay);
        return std::chrono::duration_cast<SimDuration>(std::min(seconds, longest));
    }

    static SimTime now() { return std::chrono::steady_clock::now(); }

  private:
    double factor_;
};

}  // namespace kestrune
