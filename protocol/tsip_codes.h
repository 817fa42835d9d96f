// The receiver's byte codes for the settings values, both ways: the one place where a baud
// rate, a parity, a stop-bits setting or an output protocol becomes a byte of a port command or
// report, and back. Commands, report decoders and the virtual receiver all go through here.
#pragma once

#include <cstdint>
#include <optional>

#include "protocol/receiver_settings.h"

namespace kestrune {

// Data bits code 3: eight data bits, the only size the receiver's ports use.
inline constexpr std::uint8_t kEightDataBitsCode = 3;
inline constexpr std::uint8_t kTsipProtocolCode = 2;
inline constexpr std::uint8_t kNmeaProtocolCode = 4;

// A rate outside the code table (300 to 38400 bits/s) gives the factory rate's code.
std::uint8_t baudCode(std::uint32_t baud);
std::uint8_t parityCode(Parity parity);
std::uint8_t stopBitsCode(StopBits stopBits);
std::uint8_t protocolCode(OutputProtocol output);

// Nothing for a code the receiver does not use.
std::optional<std::uint32_t> baudOfCode(std::uint8_t code);
std::optional<Parity> parityOfCode(std::uint8_t code);
std::optional<StopBits> stopBitsOfCode(std::uint8_t code);
std::optional<OutputProtocol> protocolOfCode(std::uint8_t code);

}  // namespace kestrune
