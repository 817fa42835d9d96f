// The four TSIP commands the program sends, and the tables that turn the local port's settings
// into the receiver's byte codes. Each sender frames its whole packet in a fixed array and writes
// it with one write; nobody acts on the outcome (a lost command shows as a missing reply).
#pragma once

#include <cstdint>
#include <span>

#include "link/platform_services.h"

namespace kestrune {

inline constexpr std::uint8_t kIdPortConfig = 0xBC;
inline constexpr std::uint8_t kIdNmeaConfig = 0x7A;
inline constexpr std::uint8_t kIdNmeaReport = 0x7B;
inline constexpr std::uint8_t kIdRejected = 0x13;
inline constexpr std::uint8_t kIdSignalLevels = 0x47;

inline constexpr std::uint8_t kTsipProtocolByte = 2;
inline constexpr std::uint8_t kNmeaProtocolByte = 4;

// Bits per second to the receiver's baud code; any rate not in the table gives 9600's code.
std::uint8_t baudCode(std::uint32_t baud);
// Local parity code to the receiver's byte: odd 1, even 2, anything else 0 (none).
std::uint8_t parityByte(std::uint32_t parity);
// Local stop-bits code to the receiver's byte: two stop bits 1, anything else 0 (one).
std::uint8_t stopBitsByte(std::uint32_t stopBits);
inline constexpr std::uint32_t kTsipSelected = 0;
inline constexpr std::uint32_t kNmeaSelected = 1;
// kNmeaSelected gives 4; anything else 2 (TSIP).
std::uint8_t protocolByte(std::uint32_t nmea);

// Frames id and data as DLE id data... DLE ETX with every data DLE doubled. Returns the frame's
// length, or 0 if it does not fit.
std::size_t frameTsip(std::uint8_t id, std::span<const std::uint8_t> data,
                      std::span<std::uint8_t> frame);

bool sendPortConfigQuery(SerialPort& port);
bool sendPortConfig(SerialPort& port, std::uint8_t baud, std::uint8_t parity, std::uint8_t stopBits,
                    std::uint8_t protocol);
bool sendNmeaQuery(SerialPort& port);
bool sendNmeaConfig(SerialPort& port, NmeaMask mask);

}  // namespace kestrune
