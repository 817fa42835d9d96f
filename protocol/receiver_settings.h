// The receiver's settings as values: the line it talks on, what it outputs, and which NMEA
// sentences it emits. Every layer passes these around; only the command builders and report
// decoders turn them into the receiver's byte codes and back.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <optional>
#include <string_view>

namespace kestrune {

enum class Parity : std::uint8_t { None, Odd, Even };
enum class StopBits : std::uint8_t { One, Two };
// What the receiver sends, or was last seen sending.
enum class OutputProtocol : std::uint8_t { Tsip, Nmea };

// One rate the receiver offers and the code its port commands carry for it.
struct BaudRate {
    std::uint32_t baud;
    std::uint8_t tsipCode;
};

// The rates the receiver offers, slowest first.
inline constexpr std::array<BaudRate, 6> kBaudRates{{
    {1200, 4},
    {2400, 5},
    {4800, 6},
    {9600, 7},
    {19200, 8},
    {38400, 9},
}};

inline constexpr std::uint32_t kFactoryBaud = 9600;

// The rate's entry in kBaudRates, or nothing for a rate the receiver does not offer.
constexpr std::optional<BaudRate> findBaudRate(std::uint32_t baud) {
    for (const BaudRate& rate : kBaudRates) {
        if (rate.baud == baud) {
            return rate;
        }
    }
    return std::nullopt;
}

// The line settings the program changes; everything else about the line is fixed by the port
// (8 data bits, no flow control, raw bytes, modem lines held on).
struct LineSettings {
    std::uint32_t baud = kFactoryBaud;
    Parity parity = Parity::None;
    StopBits stopBits = StopBits::One;
    bool operator==(const LineSettings&) const = default;
};

// 9600 bits/s, 8N1: where a line break returns the receiver's port.
inline constexpr LineSettings kFactoryLine{};

// A character on the line: one start bit, then eight data bits (the only size the receiver
// takes).
inline constexpr std::uint32_t kLineStartBits = 1;
inline constexpr std::uint32_t kLineDataBits = 8;

// Bits one byte takes on the line: a start bit, eight data bits, the parity bit if any, and the
// stop bits.
constexpr std::uint32_t bitsPerByte(const LineSettings& line) {
    return kLineStartBits + kLineDataBits + (line.parity == Parity::None ? 0 : 1) +
           (line.stopBits == StopBits::Two ? 2 : 1);
}

// The levels of one byte on the line, first bit in bit 0: the start bit low, the data bits,
// least significant first, the parity bit if any, and the stop bits high.
constexpr std::uint16_t characterLevels(std::uint8_t byte, const LineSettings& line) {
    std::uint32_t levels = static_cast<std::uint32_t>(byte) << kLineStartBits;
    std::uint32_t next = kLineStartBits + kLineDataBits;
    if (line.parity != Parity::None) {
        const bool oddOnes = (std::popcount(byte) % 2) != 0;
        const bool bit = line.parity == Parity::Odd ? !oddOnes : oddOnes;
        levels |= static_cast<std::uint32_t>(bit) << next++;
    }
    for (; next < bitsPerByte(line); ++next) {
        levels |= 1U << next;
    }
    return static_cast<std::uint16_t>(levels);
}

// Seven bits selecting NMEA sentences, one per sentence.
using NmeaMask = std::uint32_t;
inline constexpr NmeaMask kMaskGga = 1u << 0;
inline constexpr NmeaMask kMaskGll = 1u << 1;
inline constexpr NmeaMask kMaskVtg = 1u << 2;
inline constexpr NmeaMask kMaskGsv = 1u << 3;
inline constexpr NmeaMask kMaskGsa = 1u << 4;
inline constexpr NmeaMask kMaskZda = 1u << 5;
inline constexpr NmeaMask kMaskRmc = 1u << 6;

struct NmeaSentence {
    std::string_view name;
    NmeaMask bit;
};

// Every sentence the receiver can be asked for, in mask-bit order.
inline constexpr std::array<NmeaSentence, 7> kNmeaSentences{{
    {"GGA", kMaskGga},
    {"GLL", kMaskGll},
    {"VTG", kMaskVtg},
    {"GSV", kMaskGsv},
    {"GSA", kMaskGsa},
    {"ZDA", kMaskZda},
    {"RMC", kMaskRmc},
}};

// A whole configuration, as Apply writes it.
struct ReceiverConfig {
    LineSettings line;
    OutputProtocol protocol = OutputProtocol::Tsip;
    NmeaMask sentences = 0;
    bool operator==(const ReceiverConfig&) const = default;
};

}  // namespace kestrune
