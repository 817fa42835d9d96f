// Decoding the payloads of the receiver's reports the program reads. Each takes the data bytes
// that follow the packet ID, trusts nothing about their length, and allocates nothing.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "protocol/receiver_settings.h"

namespace kestrune {

// 0xBC port report: the settings of the port it describes.
struct PortReport {
    LineSettings line;
    OutputProtocol output = OutputProtocol::Tsip;
    bool operator==(const PortReport&) const = default;
};

// 00 06 06 03 00 00 00 02 04 00: port 0 at 4800 8N1, TSIP in, NMEA out. Nothing for a report of
// the wrong length or with codes the program does not use.
std::optional<PortReport> decodePortReport(std::span<const std::uint8_t> data);

// 00 01 00 00 01 05: the 0x7B report of GGA, VTG and RMC. The program's mask is the lowest mask
// byte taken whole (bits 6 and 7 pass as they are) with RMC added from bit 8. A report too short
// to hold the mask bytes reads them as zero.
NmeaMask decodeNmeaReport(std::span<const std::uint8_t> data);
// True for a 0x7B report that holds its whole sentence mask: what a receiver sends, and what a few
// bytes that happen to frame as a 0x7B rarely are.
bool holdsNmeaMask(std::span<const std::uint8_t> data);

struct SignalLevel {
    std::uint8_t prn = 0;
    std::int32_t level = 0;
    bool operator==(const SignalLevel&) const = default;
};

// The most entries a 0x47 report that fits the framer can hold.
inline constexpr std::size_t kMaxSignalLevels = 51;

struct SignalLevels {
    std::array<SignalLevel, kMaxSignalLevels> entries{};
    std::size_t count = 0;
    std::span<const SignalLevel> view() const { return std::span(entries).first(count); }
};

// 02 03 41 B3 33 33 ...: a count, then per satellite its PRN and a big-endian IEEE-754 single.
// Only entries wholly present are read, however many the count promises.
SignalLevels decodeSignalLevels(std::span<const std::uint8_t> data);

// The signal level a 0x47 single becomes: 20 log10(level) + 22.8, rounded half up; 0 for a level
// that is zero, negative, not a number or infinite.
std::int32_t signalLevelValue(float level);

}  // namespace kestrune
