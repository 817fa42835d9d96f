// Checks on NMEA sentences as the framer returns them: '$' up to, not including, the CR.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace kestrune {

// True when the sentence ends in '*' and two hex digits that equal the XOR of every byte
// between '$' and '*'.
bool nmeaChecksumHolds(std::span<const std::uint8_t> sentence);

// The sentence type after the two-letter talker ("GGA" of "$GPGGA,..."), or empty when the
// sentence has no address field of that shape.
std::string_view nmeaSentenceType(std::span<const std::uint8_t> sentence);

}  // namespace kestrune
