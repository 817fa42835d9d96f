#include "protocol/nmea_sentence.h"

#include <optional>

namespace kestrune {

namespace {

constexpr std::uint8_t kStart = '$';
constexpr std::uint8_t kChecksumMark = '*';
constexpr std::size_t kChecksumDigits = 2;
constexpr std::size_t kTalkerLength = 2;
constexpr std::size_t kTypeLength = 3;
constexpr unsigned kHexBase = 16;
constexpr unsigned kDecimalDigits = 10;
static_assert(kAddressBytes == 1 + kTalkerLength + kTypeLength + 1, "'$', talker, type, comma");

std::optional<unsigned> hexValue(std::uint8_t c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + kDecimalDigits;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + kDecimalDigits;
    }
    return std::nullopt;
}

}  // namespace

bool nmeaChecksumHolds(std::span<const std::uint8_t> sentence) {
    if (sentence.size() < 1 + 1 + kChecksumDigits || sentence[0] != kStart ||
        sentence[sentence.size() - 1 - kChecksumDigits] != kChecksumMark) {
        return false;
    }
    const auto high = hexValue(sentence[sentence.size() - 2]);
    const auto low = hexValue(sentence[sentence.size() - 1]);
    if (!high || !low) {
        return false;
    }
    std::uint8_t sum = 0;
    for (const std::uint8_t byte : sentence.subspan(1, sentence.size() - 2 - kChecksumDigits)) {
        if (!isPrintableAscii(byte)) {
            return false;
        }
        sum ^= byte;
    }
    return sum == *high * kHexBase + *low;
}

std::string_view nmeaSentenceType(std::span<const std::uint8_t> sentence) {
    constexpr std::size_t kAddressEnd = 1 + kTalkerLength + kTypeLength;
    if (sentence.size() <= kAddressEnd || sentence[0] != kStart ||
        sentence[kAddressEnd] != kFieldSeparator) {
        return {};
    }
    const auto type = sentence.subspan(1 + kTalkerLength, kTypeLength);
    return {reinterpret_cast<const char*>(type.data()), type.size()};
}

bool NmeaAddressScanner::add(std::uint8_t byte) {
    if (byte == kStart) {
        letters_ = 0;
        return false;
    }
    if (letters_ == kOutside) {
        return false;
    }
    if (letters_ == kTalkerLength + kTypeLength) {
        letters_ = kOutside;
        return byte == kFieldSeparator;
    }
    letters_ = byte >= 'A' && byte <= 'Z' ? letters_ + 1 : kOutside;
    return false;
}

}  // namespace kestrune
