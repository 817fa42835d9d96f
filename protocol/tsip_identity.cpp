#include "protocol/tsip_identity.h"

#include <algorithm>

namespace kestrune {

namespace {

// 0x1C 0x81: subcode, reserved, major, minor, build, month, day, year (U16), n, n characters.
constexpr std::size_t kFirmwareMajor = 2;
constexpr std::size_t kFirmwareMinor = 3;
constexpr std::size_t kFirmwareBuild = 4;
constexpr std::size_t kFirmwareMonth = 5;
constexpr std::size_t kFirmwareDay = 6;
constexpr std::size_t kFirmwareYear = 7;
constexpr std::size_t kFirmwareTextLength = 9;

// 0x1C 0x83: subcode, serial (U32), day, month, year (U16), hour, hardware code (U16), n, n
// characters.
constexpr std::size_t kHardwareSerial = 1;
constexpr std::size_t kHardwareDay = 5;
constexpr std::size_t kHardwareMonth = 6;
constexpr std::size_t kHardwareYear = 7;
constexpr std::size_t kHardwareCode = 10;
constexpr std::size_t kHardwareTextLength = 12;

// 0x45: major, minor, month, year of the century, day; once for the application, once for the
// GPS core. Some receivers send more after these ten bytes; peers such as gpsd read the first
// ten and pass over the rest, and so does this.
constexpr std::size_t kSoftwareVersionLength = 10;
constexpr std::size_t kComponentLength = 5;
constexpr std::size_t kComponentMinor = 1;
constexpr std::size_t kComponentMonth = 2;
constexpr std::size_t kComponentYear = 3;
constexpr std::size_t kComponentDay = 4;
// Two-digit years below this are of this century, the rest of the last.
constexpr std::uint8_t kCenturyPivot = 80;
constexpr std::uint16_t kThisCentury = 2000;
constexpr std::uint16_t kLastCentury = 1900;

constexpr std::uint8_t kNul = 0x00;
constexpr std::uint8_t kBlank = 0x20;
constexpr std::uint8_t kLastPrintable = 0x7E;
constexpr char kUnprintable = '?';

// The big-endian unsigned number in the bytes at offset; the caller has checked the length.
std::uint32_t bigEndian(std::span<const std::uint8_t> data, std::size_t offset, std::size_t size) {
    constexpr int kBitsPerByte = 8;
    std::uint32_t value = 0;
    for (const std::uint8_t byte : data.subspan(offset, size)) {
        value = (value << kBitsPerByte) | byte;
    }
    return value;
}

std::uint16_t u16At(std::span<const std::uint8_t> data, std::size_t offset) {
    return static_cast<std::uint16_t>(bigEndian(data, offset, sizeof(std::uint16_t)));
}

// The text whose length is the byte at lengthOffset and which follows it; nothing when the
// report ends before the text does.
std::optional<ReportText> textAt(std::span<const std::uint8_t> data, std::size_t lengthOffset) {
    if (data.size() <= lengthOffset || data.size() - lengthOffset - 1 < data[lengthOffset]) {
        return std::nullopt;
    }
    auto bytes = data.subspan(lengthOffset + 1, data[lengthOffset]);
    // Receivers pad their names with blanks or NULs.
    while (!bytes.empty() && (bytes.back() == kBlank || bytes.back() == kNul)) {
        bytes = bytes.first(bytes.size() - 1);
    }
    ReportText text;
    for (const std::uint8_t byte : bytes.first(std::min(bytes.size(), ReportText::kLongest))) {
        const bool printable = byte >= kBlank && byte <= kLastPrintable;
        text.chars[text.length++] = printable ? static_cast<char>(byte) : kUnprintable;
    }
    return text;
}

ComponentVersion componentAt(std::span<const std::uint8_t> data, std::size_t offset) {
    const auto part = data.subspan(offset, kComponentLength);
    const std::uint8_t year = part[kComponentYear];
    return ComponentVersion{
        part[0], part[kComponentMinor],
        BuildDate{
            static_cast<std::uint16_t>((year < kCenturyPivot ? kThisCentury : kLastCentury) + year),
            part[kComponentMonth], part[kComponentDay]}};
}

TsipFrame identityQuery(std::uint8_t subcode) {
    const std::uint8_t data[] = {subcode};
    return frameTsip(kIdIdentity, data);
}

}  // namespace

// 10 1C 01 10 03: firmware information.
TsipFrame firmwareQuery() {
    return identityQuery(kFirmwareQuerySubcode);
}

// 10 1C 03 10 03: hardware component information.
TsipFrame hardwareQuery() {
    return identityQuery(kHardwareQuerySubcode);
}

// 10 1F 10 03: software version.
TsipFrame softwareVersionQuery() {
    return frameTsip(kIdSoftwareVersionQuery, {});
}

// 81 00 01 02 07 03 0E 07 EA 05 4B 45 53 54 52: firmware 1.2 build 7 of 14 March 2026, "KESTR".
std::optional<FirmwareReport> decodeFirmwareReport(std::span<const std::uint8_t> data) {
    if (data.empty() || data[0] != kFirmwareReportSubcode) {
        return std::nullopt;
    }
    const std::optional<ReportText> product = textAt(data, kFirmwareTextLength);
    if (!product) {
        return std::nullopt;
    }
    return FirmwareReport{
        *product, data[kFirmwareMajor], data[kFirmwareMinor], data[kFirmwareBuild],
        BuildDate{u16At(data, kFirmwareYear), data[kFirmwareMonth], data[kFirmwareDay]}};
}

// 83 01 35 25 DA 0E 03 07 EA 09 03 E9 02 4B 45: serial 20260314, built 14 March 2026 at 9,
// hardware code 1001, "KE".
std::optional<HardwareReport> decodeHardwareReport(std::span<const std::uint8_t> data) {
    if (data.empty() || data[0] != kHardwareReportSubcode) {
        return std::nullopt;
    }
    const std::optional<ReportText> product = textAt(data, kHardwareTextLength);
    if (!product) {
        return std::nullopt;
    }
    return HardwareReport{
        bigEndian(data, kHardwareSerial, sizeof(std::uint32_t)), u16At(data, kHardwareCode),
        *product, BuildDate{u16At(data, kHardwareYear), data[kHardwareMonth], data[kHardwareDay]}};
}

// 01 02 03 1A 0E 03 01 03 1A 0E: application 1.2 and core 3.1, both of 14 March 2026.
std::optional<SoftwareVersion> decodeSoftwareVersion(std::span<const std::uint8_t> data) {
    if (data.size() < kSoftwareVersionLength) {
        return std::nullopt;
    }
    return SoftwareVersion{componentAt(data, 0), componentAt(data, kComponentLength)};
}

}  // namespace kestrune
