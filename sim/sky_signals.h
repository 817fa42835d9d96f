// The signals of the sky's satellites at a moment. Each level drifts slowly about the satellite's
// level in the sky along a wave whose period and phase come from a seed: a seed replays the same
// levels, and every report and sentence of one second carries the same ones.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>

#include "sim/sky.h"

namespace kestrune {

struct SkySignal {
    std::uint8_t snrDbHz = 0;  // as NMEA shows it
    float level = 0.0f;        // the same, in the amplitude units of the TSIP reports
    bool operator==(const SkySignal&) const = default;
};

using SkySignals = std::array<SkySignal, kSky.size()>;

// Never more than a dB-Hz from one second to the next; no level's single holds a DLE.
SkySignals skySignalsAt(std::uint32_t seed, std::chrono::sys_seconds utc);

}  // namespace kestrune
