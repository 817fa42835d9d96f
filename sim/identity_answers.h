// The receiver's answers to the three identity queries, built from its identity profile.
//   0x1F       0x45 software version     0x1C 01   0x1C 81 firmware
//   0x1C 03    0x1C 83 hardware
#pragma once

#include <optional>

#include "sim/identity_profile.h"
#include "sim/receiver_reports.h"
#include "sim/tsip_parser.h"

namespace kestrune {

// The answer to an identity query; empty Frames when the profile answers none (the receiver
// then refuses the packet); nothing for any packet that is no identity query.
std::optional<Frames> answerIdentityQuery(const TsipPacket& packet, const IdentityProfile& profile);

// 0x45: application and GPS core versions and dates. 10 bytes.
std::vector<std::uint8_t> softwareVersionReport(const IdentityProfile& profile);
// 0x1C 0x81: version, build number and date, product name. 10 + n bytes.
std::vector<std::uint8_t> firmwareReport(const IdentityProfile& profile);
// 0x1C 0x83: serial number, build date, hardware code and product name. 13 + n bytes.
std::vector<std::uint8_t> hardwareReport(const IdentityProfile& profile);

}  // namespace kestrune
