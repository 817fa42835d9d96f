// Who the virtual receiver says it is, in its answers to the identity queries: the firmware
// report (0x1C 81) and the hardware report (0x1C 83) both name the product, the software version
// report (0x45) and the firmware report carry the same version, and the hardware report the
// serial number. A receiver that does not answer them refuses each as a packet it cannot parse,
// as receivers that predate the queries do.
#pragma once

#include <cstdint>
#include <string>

namespace kestrune {

struct IdentityProfile {
    // The longest product name the reports carry here.
    static constexpr std::size_t kLongestProduct = 40;

    bool answers = true;
    std::string product = "Kestrune Virtual Receiver";
    std::uint8_t major = 1;
    std::uint8_t minor = 2;
    std::uint32_t serialNumber = 20260314;
    bool operator==(const IdentityProfile&) const = default;
};

}  // namespace kestrune
