// Checks on NMEA sentences as the framer returns them: '$' up to, not including, the CR.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace kestrune {

// The longest sentence, '$' to LF, and its address field: '$', talker, type and the comma.
inline constexpr std::size_t kLongestSentence = 82;
inline constexpr std::size_t kAddressBytes = 7;
inline constexpr std::uint8_t kFieldSeparator = ',';

// Printable ASCII, ' ' to '~': what a sentence's characters are.
constexpr bool isPrintableAscii(std::uint8_t byte) {
    constexpr std::uint8_t kFirstPrintable = 0x20;
    constexpr std::uint8_t kLastPrintable = 0x7E;
    return byte >= kFirstPrintable && byte <= kLastPrintable;
}

// True when the sentence ends in '*' and two hex digits that equal the XOR of every byte
// between '$' and '*', and those bytes are all printable ASCII, as a sentence's are. A port at
// settings other than its talker's misreads characters into bytes of any value, and a checksum
// that holds over such a byte holds by chance.
bool nmeaChecksumHolds(std::span<const std::uint8_t> sentence);

// The sentence type after the two-letter talker ("GGA" of "$GPGGA,..."), or empty when the
// sentence has no address field of that shape.
std::string_view nmeaSentenceType(std::span<const std::uint8_t> sentence);

// Follows a stream byte by byte and tells where a sentence's address field ends whole: '$',
// the two-letter talker and the three-letter type, in capitals, and the field separator.
class NmeaAddressScanner {
  public:
    // Whether byte ends a whole address field.
    bool add(std::uint8_t byte);

  private:
    static constexpr std::uint8_t kOutside = 0xFF;
    // Letters since '$', or kOutside where no address is under way.
    std::uint8_t letters_ = kOutside;
};

}  // namespace kestrune
