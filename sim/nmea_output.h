// The sentences the virtual receiver emits in NMEA mode: talker GP, the fix of the moment (the
// host's UTC time and date, the receiver's place) under the sky of sim/sky.h. Each sentence is
// "$" body "*" two hex digits of the XOR of the body, then CR LF.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "sim/receiver_fix.h"

namespace kestrune {

// Wraps a sentence body (without '$') with its start, checksum and line end.
std::string nmeaSentence(std::string_view body);

// The sentences selected by the receiver's 32-bit mask, in the order GGA, GLL, VTG, GSV, GSA,
// ZDA, RMC, for one fix. Heights are above the ellipsoid, with a geoid separation of 0.
std::string nmeaSentences(std::uint32_t sentenceMask, const Fix& fix);

}  // namespace kestrune
