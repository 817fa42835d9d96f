// Seeded, repeatable numbers for the virtual receiver's small variations (its position's jitter,
// its satellites' signal levels): a seed and a moment in, the same well-mixed bits out each time.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

namespace kestrune {

// splitmix64.
inline std::uint64_t mixBits(std::uint64_t value) {
    constexpr std::uint64_t kGolden = 0x9E3779B97F4A7C15ull;
    constexpr std::uint64_t kMixA = 0xBF58476D1CE4E5B9ull;
    constexpr std::uint64_t kMixB = 0x94D049BB133111EBull;
    constexpr int kShiftA = 30;
    constexpr int kShiftB = 27;
    constexpr int kShiftC = 31;
    value += kGolden;
    value = (value ^ (value >> kShiftA)) * kMixA;
    value = (value ^ (value >> kShiftB)) * kMixB;
    return value ^ (value >> kShiftC);
}

// A number from -1 to 1, the index'th of a stream.
inline double seededDraw(std::uint64_t stream, int index) {
    constexpr int kWordBits = 64;
    constexpr int kMantissaBits = 53;
    const std::uint64_t bits =
        mixBits(stream + static_cast<std::uint64_t>(index)) >> (kWordBits - kMantissaBits);
    return std::ldexp(static_cast<double>(bits), 1 - kMantissaBits) - 1.0;
}

// True when one of the four bytes of value as a single is a DLE: a report carrying it would
// hold a doubled DLE, which a host that starts listening in its middle could take for a start.
inline bool singleHoldsDle(float value) {
    constexpr std::uint8_t kDle = 0x10;
    constexpr unsigned kBitsPerByte = 8;
    constexpr std::uint32_t kByteMask = 0xFF;
    const auto bits = std::bit_cast<std::uint32_t>(value);
    for (unsigned shift = 0; shift < sizeof bits * kBitsPerByte; shift += kBitsPerByte) {
        if (((bits >> shift) & kByteMask) == kDle) {
            return true;
        }
    }
    return false;
}

}  // namespace kestrune
