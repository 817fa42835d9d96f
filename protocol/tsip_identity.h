// Who the receiver is: the three queries that ask it, and the decoders of its answers. The
// firmware report names the product and its firmware, the hardware report gives the serial
// number, and the software version report is the older answer that receivers without the other
// two still give. Every decoder checks lengths, keeps only printable text, and allocates nothing.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "protocol/tsip_commands.h"

namespace kestrune {

inline constexpr std::uint8_t kIdIdentity = 0x1C;
inline constexpr std::uint8_t kIdSoftwareVersionQuery = 0x1F;
inline constexpr std::uint8_t kIdSoftwareVersion = 0x45;
inline constexpr std::uint8_t kFirmwareQuerySubcode = 0x01;
inline constexpr std::uint8_t kHardwareQuerySubcode = 0x03;
inline constexpr std::uint8_t kFirmwareReportSubcode = 0x81;
inline constexpr std::uint8_t kHardwareReportSubcode = 0x83;

// Text a report carries, cut to the longest name worth showing. A character outside printable
// ASCII reads as '?', and trailing blanks and NULs are dropped, so it is safe on a terminal.
struct ReportText {
    static constexpr std::size_t kLongest = 40;
    std::array<char, kLongest> chars{};
    std::size_t length = 0;

    std::string_view view() const { return {chars.data(), length}; }
    bool operator==(const ReportText& other) const { return view() == other.view(); }
};

struct BuildDate {
    std::uint16_t year = 0;
    std::uint8_t month = 0;
    std::uint8_t day = 0;
    bool operator==(const BuildDate&) const = default;
};

// 0x1C 0x81.
struct FirmwareReport {
    ReportText product;
    std::uint8_t major = 0;
    std::uint8_t minor = 0;
    std::uint8_t build = 0;
    BuildDate date;
    bool operator==(const FirmwareReport&) const = default;
};

// 0x1C 0x83.
struct HardwareReport {
    std::uint32_t serialNumber = 0;
    std::uint16_t hardwareCode = 0;
    ReportText product;
    BuildDate date;
    bool operator==(const HardwareReport&) const = default;
};

struct ComponentVersion {
    std::uint8_t major = 0;
    std::uint8_t minor = 0;
    BuildDate date;
    bool operator==(const ComponentVersion&) const = default;
};

// 0x45: the application firmware and the GPS core.
struct SoftwareVersion {
    ComponentVersion application;
    ComponentVersion core;
    bool operator==(const SoftwareVersion&) const = default;
};

TsipFrame firmwareQuery();
TsipFrame hardwareQuery();
TsipFrame softwareVersionQuery();

// Each takes the data after the packet ID. Nothing for a report of another subcode, one too
// short for its fixed fields, or one whose text is cut off. A version report longer than its ten
// bytes is read from its first ten.
std::optional<FirmwareReport> decodeFirmwareReport(std::span<const std::uint8_t> data);
std::optional<HardwareReport> decodeHardwareReport(std::span<const std::uint8_t> data);
std::optional<SoftwareVersion> decodeSoftwareVersion(std::span<const std::uint8_t> data);

}  // namespace kestrune
