#include "sim/identity_answers.h"

#include <string_view>

#include "sim/payload_writer.h"

namespace kestrune {

namespace {

constexpr std::uint8_t kQueryIdentity = 0x1C;
constexpr std::uint8_t kQuerySoftwareVersion = 0x1F;
constexpr std::uint8_t kFirmwareSubcode = 0x01;
constexpr std::uint8_t kHardwareSubcode = 0x03;
constexpr std::uint8_t kFirmwareReportSubcode = 0x81;

// What every profile shares: the GPS core, the build and the hardware code.
constexpr std::uint8_t kCoreMajor = 3;
constexpr std::uint8_t kCoreMinor = 1;
constexpr std::uint8_t kBuildNumber = 7;
constexpr std::uint8_t kBuildDay = 14;
constexpr std::uint8_t kBuildMonth = 3;
constexpr std::uint8_t kBuildYearOfCentury = 26;
constexpr std::uint16_t kBuildYear = 2026;
constexpr std::uint8_t kBuildHour = 9;
constexpr std::uint8_t kReserved = 0;
// Any code a host does not take for a timing receiver.
constexpr std::uint16_t kHardwareCode = 1001;

}  // namespace

std::optional<Frames> answerIdentityQuery(const TsipPacket& packet,
                                          const IdentityProfile& profile) {
    const bool software = packet.id == kQuerySoftwareVersion && packet.data.empty();
    const bool identity =
        packet.id == kQueryIdentity && packet.data.size() == 1 &&
        (packet.data[0] == kFirmwareSubcode || packet.data[0] == kHardwareSubcode);
    if (!software && !identity) {
        return std::nullopt;
    }
    if (!profile.answers) {
        return Frames{};
    }
    if (software) {
        return Frames{softwareVersionReport(profile)};
    }
    return Frames{packet.data[0] == kFirmwareSubcode ? firmwareReport(profile)
                                                     : hardwareReport(profile)};
}

// 10 45 01 02 03 1A 0E 03 01 03 1A 0E 10 03: version 1.2 and core 3.1, both of 14 March 2026.
std::vector<std::uint8_t> softwareVersionReport(const IdentityProfile& profile) {
    return PayloadWriter()
        .u8(profile.major)
        .u8(profile.minor)
        .u8(kBuildMonth)
        .u8(kBuildYearOfCentury)
        .u8(kBuildDay)
        .u8(kCoreMajor)
        .u8(kCoreMinor)
        .u8(kBuildMonth)
        .u8(kBuildYearOfCentury)
        .u8(kBuildDay)
        .frame(kSimIdSoftwareVersion);
}

// 10 1C 81 00 01 02 07 03 0E 07 EA 19 4B 65 73 ... 10 03: version 1.2 build 7 of 14 March 2026,
// then the product name's 25 characters.
std::vector<std::uint8_t> firmwareReport(const IdentityProfile& profile) {
    const std::string_view product = profile.product.view();
    return PayloadWriter()
        .u8(kFirmwareReportSubcode)
        .u8(kReserved)
        .u8(profile.major)
        .u8(profile.minor)
        .u8(kBuildNumber)
        .u8(kBuildMonth)
        .u8(kBuildDay)
        .u16(kBuildYear)
        .u8(static_cast<std::uint8_t>(product.size()))
        .text(product)
        .frame(kSimIdHardware);
}

// 10 1C 83 01 35 25 DA 0E 03 07 EA 09 03 E9 19 4B 65 73 ... 10 03: serial 20260314, built 14
// March 2026 at 9, hardware code 1001, then the product name's 25 characters.
std::vector<std::uint8_t> hardwareReport(const IdentityProfile& profile) {
    const std::string_view product = profile.product.view();
    return PayloadWriter()
        .u8(kSimHardwareSubcode)
        .u32(profile.serialNumber)
        .u8(kBuildDay)
        .u8(kBuildMonth)
        .u16(kBuildYear)
        .u8(kBuildHour)
        .u16(kHardwareCode)
        .u8(static_cast<std::uint8_t>(product.size()))
        .text(product)
        .frame(kSimIdHardware);
}

}  // namespace kestrune
