#include "link/timing.h"

#include <algorithm>
#include <cmath>

namespace kestrune {

namespace {

constexpr std::chrono::milliseconds kShortest{1};
constexpr std::chrono::milliseconds kLongest = kLongestScaledDelay;
constexpr double kMillisecondsPerSecond = 1000.0;

}  // namespace

std::chrono::milliseconds scaleDelay(std::chrono::milliseconds delay, double factor) {
    // Worked in double and clamped before converting back, so no factor can overflow the count.
    const double scaled = static_cast<double>(delay.count()) * factor;
    if (!(scaled < static_cast<double>(kLongest.count()))) {  // also catches NaN
        return kLongest;
    }
    return std::max(std::chrono::milliseconds(std::llround(scaled)), kShortest);
}

std::chrono::milliseconds lineTime(std::size_t bytes, const LineSettings& line, double factor) {
    const double seconds = static_cast<double>(bytes * bitsPerByte(line)) / line.baud;
    return std::chrono::milliseconds(
        static_cast<std::chrono::milliseconds::rep>(seconds * kMillisecondsPerSecond * factor) + 1);
}

Timing Timing::scaled(double by) const {
    Timing t = *this;
    for (std::chrono::milliseconds Timing::*delay :
         {&Timing::readCeiling, &Timing::closeWait, &Timing::rejectWait, &Timing::nmeaReportWait,
          &Timing::probeWait, &Timing::verifyWait, &Timing::breakLength, &Timing::breakQuiet,
          &Timing::settle, &Timing::quickProbeMargin, &Timing::identityWait, &Timing::leadWait,
          &Timing::residueWait, &Timing::gatherPause, &Timing::saveWait}) {
        t.*delay = scaleDelay(this->*delay, by);
    }
    t.factor = factor * by;
    return t;
}

}  // namespace kestrune
