// The receiver's side of the TSIP packets the program uses: reading the port and NMEA
// configuration commands, and building the reports it sends back, each framed and DLE-stuffed.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "sim/receiver_state.h"
#include "sim/sky_signals.h"

namespace kestrune {

inline constexpr std::uint8_t kSimIdRejected = 0x13;
inline constexpr std::uint8_t kSimIdSignalLevels = 0x47;
inline constexpr std::uint8_t kSimIdNmeaConfig = 0x7A;
inline constexpr std::uint8_t kSimIdNmeaReport = 0x7B;
inline constexpr std::uint8_t kSimIdPortConfig = 0xBC;
inline constexpr std::uint8_t kSimIdSuperCommand = 0x8E;
inline constexpr std::uint8_t kSimIdSuperReport = 0x8F;
inline constexpr std::uint8_t kSimSubcodeSave = 0x26;

inline constexpr std::size_t kPortQueryLength = 1;
inline constexpr std::size_t kPortConfigLength = 10;
inline constexpr std::size_t kNmeaQueryLength = 1;
inline constexpr std::size_t kNmeaConfigLength = 6;

// Frames a packet as DLE id data... DLE ETX, doubling every data byte that is a DLE.
std::vector<std::uint8_t> tsipFrame(std::uint8_t id, std::span<const std::uint8_t> data);

// True for the one-byte port query that addresses the receiver's port (0, or 0xFF: the port
// the query arrives on).
bool isPortQuery(std::span<const std::uint8_t> data);
// The settings a ten-byte port configuration asks for, or nothing for a configuration the
// receiver cannot take (wrong length, port other than 0 or 0xFF, baud code, data bits, parity,
// stop bits, flow control or protocols). Output selection and interval are carried over from
// current.
std::optional<ReceiverSettings> decodePortConfig(std::span<const std::uint8_t> data,
                                                 const ReceiverSettings& current);
// True for the one-byte NMEA query (subcode 0).
bool isNmeaQuery(std::span<const std::uint8_t> data);
// The selection and interval a six-byte NMEA configuration asks for, or nothing.
std::optional<ReceiverSettings> decodeNmeaConfig(std::span<const std::uint8_t> data,
                                                 const ReceiverSettings& current);

// 0xBC: the port settings, in the same ten-byte layout as the configuration command.
std::vector<std::uint8_t> portReport(const ReceiverSettings& settings);
// 0x7B: subcode 0, interval, 32-bit sentence mask most significant byte first.
std::vector<std::uint8_t> nmeaReport(const ReceiverSettings& settings);
// 0x13: the ID and data of a packet the receiver could not take.
std::vector<std::uint8_t> rejection(std::uint8_t id, std::span<const std::uint8_t> data);
// 0x47: a count, then per satellite of the sky its PRN and a big-endian IEEE-754 single level.
std::vector<std::uint8_t> signalLevels(const SkySignals& sky);

}  // namespace kestrune
