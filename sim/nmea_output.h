// The sentences the virtual receiver emits in NMEA mode: talker GP, a fixed position under the
// sky of sim/sky.h, and a clock that advances by the output interval. Each sentence is
// "$" body "*" two hex digits of the XOR of the body, then CR LF.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrune {

// Wraps a sentence body (without '$') with its start, checksum and line end.
std::string nmeaSentence(std::string_view body);

// The sentences selected by the receiver's 32-bit mask, in the order GGA, GLL, VTG, GSV, GSA,
// ZDA, RMC, for the moment secondsSinceStart after the receiver's first fix.
std::string nmeaSentences(std::uint32_t sentenceMask, std::uint32_t secondsSinceStart);

}  // namespace kestrune
