#include "protocol/tsip_reports.h"

#include "protocol/tsip_codes.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace kestrune {

namespace {

// 0xBC: the same ten bytes as the port configuration command.
constexpr std::size_t kPortReportLength = 10;
constexpr std::size_t kInputBaudOffset = 1;
constexpr std::size_t kOutputBaudOffset = 2;
constexpr std::size_t kDataBitsOffset = 3;
constexpr std::size_t kParityOffset = 4;
constexpr std::size_t kStopBitsOffset = 5;
constexpr std::size_t kOutputProtocolOffset = 8;

// 0x7B: subcode, interval, then the 32-bit mask most significant byte first.
constexpr std::size_t kNmeaRmcOffset = 4;
constexpr std::size_t kNmeaLowOffset = 5;
constexpr std::size_t kNmeaReportLength = kNmeaLowOffset + 1;
constexpr std::uint8_t kReceiverRmcBit = 0x01;

// 0x47: a count, then entries of PRN and a big-endian single.
constexpr std::size_t kSignalEntrySize = 5;
constexpr double kDecibelScale = 20.0;
constexpr double kDecibelOffset = 22.8;
constexpr double kRounding = 0.5;

std::uint32_t bigEndianWord(std::span<const std::uint8_t, 4> bytes) {
    constexpr int kBitsPerByte = 8;
    std::uint32_t word = 0;
    for (const std::uint8_t byte : bytes) {
        word = (word << kBitsPerByte) | byte;
    }
    return word;
}

std::uint8_t byteOrZero(std::span<const std::uint8_t> data, std::size_t offset) {
    return offset < data.size() ? data[offset] : 0;
}

}  // namespace

std::optional<PortReport> decodePortReport(std::span<const std::uint8_t> data) {
    if (data.size() != kPortReportLength || data[kDataBitsOffset] != kEightDataBitsCode ||
        data[kInputBaudOffset] != data[kOutputBaudOffset]) {
        return std::nullopt;
    }
    const auto baud = baudOfCode(data[kOutputBaudOffset]);
    const auto parity = parityOfCode(data[kParityOffset]);
    const auto stopBits = stopBitsOfCode(data[kStopBitsOffset]);
    const auto output = protocolOfCode(data[kOutputProtocolOffset]);
    if (!baud || !parity || !stopBits || !output) {
        return std::nullopt;
    }
    return PortReport{{*baud, *parity, *stopBits}, *output};
}

NmeaMask decodeNmeaReport(std::span<const std::uint8_t> data) {
    NmeaMask mask = byteOrZero(data, kNmeaLowOffset);
    if ((byteOrZero(data, kNmeaRmcOffset) & kReceiverRmcBit) != 0) {
        mask |= kMaskRmc;
    }
    return mask;
}

bool holdsNmeaMask(std::span<const std::uint8_t> data) {
    return data.size() >= kNmeaReportLength;
}

SignalLevels decodeSignalLevels(std::span<const std::uint8_t> data) {
    SignalLevels levels;
    if (data.empty()) {
        return levels;
    }
    const std::size_t present = (data.size() - 1) / kSignalEntrySize;
    levels.count = std::min({std::size_t{data[0]}, present, kMaxSignalLevels});
    for (std::size_t i = 0; i < levels.count; ++i) {
        const auto entry = data.subspan(1 + i * kSignalEntrySize, kSignalEntrySize);
        const float level = std::bit_cast<float>(bigEndianWord(entry.subspan<1, 4>()));
        levels.entries[i] = {entry[0], signalLevelValue(level)};
    }
    return levels;
}

std::int32_t signalLevelValue(float level) {
    if (!std::isfinite(level) || !(level > 0.0f)) {
        return 0;
    }
    const auto decibels =
        static_cast<float>(kDecibelScale * std::log10(double{level}) + kDecibelOffset);
    // Every finite positive single lands between -873 and 793, well inside the result's range.
    return static_cast<std::int32_t>(double{decibels} + kRounding);  // truncates toward zero
}

}  // namespace kestrune
