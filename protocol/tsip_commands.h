// The TSIP commands the program sends. Each builder returns the whole frame, ready for one
// write: DLE id data... DLE ETX with every data DLE doubled. These builders and the report
// decoders are the only places where settings become the receiver's byte codes.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "protocol/receiver_settings.h"

namespace kestrune {

inline constexpr std::uint8_t kIdPortConfig = 0xBC;
inline constexpr std::uint8_t kIdNmeaConfig = 0x7A;
inline constexpr std::uint8_t kIdNmeaReport = 0x7B;
inline constexpr std::uint8_t kIdRejected = 0x13;
inline constexpr std::uint8_t kIdSignalLevels = 0x47;
inline constexpr std::uint8_t kIdSignalLevelQuery = 0x27;

// A command frame in a fixed array; bytes() is what goes on the line.
struct TsipFrame {
    // Framing adds DLE, ID, DLE, ETX and doubles every data byte at most once.
    static constexpr std::size_t kMaxData = 10;
    static constexpr std::size_t kCapacity = 4 + 2 * kMaxData;

    std::array<std::uint8_t, kCapacity> buffer{};
    std::size_t length = 0;

    std::span<const std::uint8_t> bytes() const { return std::span(buffer).first(length); }
};

// Frames id and data; an empty frame if the data is longer than TsipFrame::kMaxData.
TsipFrame frameTsip(std::uint8_t id, std::span<const std::uint8_t> data);

TsipFrame portConfigQuery();
TsipFrame portConfig(const LineSettings& line, OutputProtocol output);
TsipFrame nmeaQuery();
TsipFrame nmeaConfig(NmeaMask sentences);
// Asks the receiver to keep its current configuration through power-off (protocol/tsip_save.h).
TsipFrame saveConfigCommand();
// Asks for one 0x47 report of every satellite's signal level.
TsipFrame signalLevelQuery();

}  // namespace kestrune
