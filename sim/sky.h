// The satellites the virtual receiver pretends to track, all of them used in its fix: the same
// sky feeds its NMEA sentences and its TSIP fix, signal-level and tracking reports, listed in
// channel order. No PRN, no byte of any level and no byte of a DOP is 0x10, so those reports
// hold no DLE: a host that starts listening in the middle of one skips its tail instead of taking
// it for a packet.
#pragma once

#include <array>
#include <cstdint>

namespace kestrune {

struct SkySatellite {
    std::uint8_t prn;
    std::uint8_t elevationDegrees;
    std::uint16_t azimuthDegrees;
    std::uint8_t snrDbHz;  // the level its signal drifts about (sim/sky_signals.h)
};

inline constexpr std::array<SkySatellite, 7> kSky{{
    {3, 71, 118, 50},
    {7, 54, 301, 48},
    {11, 38, 42, 45},
    {17, 27, 197, 42},
    {19, 19, 256, 39},
    {26, 11, 77, 33},
    {30, 6, 335, 23},
}};

// Dilutions of precision of a fix under this sky: PDOP² = HDOP² + VDOP².
inline constexpr float kPdop = 1.8f;
inline constexpr float kHdop = 1.0f;
inline constexpr float kVdop = 1.5f;
inline constexpr float kTdop = 0.9f;

}  // namespace kestrune
