// Who the virtual receiver says it is, in its answers to the identity queries: the firmware
// report (0x1C 81) and the hardware report (0x1C 83) both name the product, the software version
// report (0x45) and the firmware report carry the same version, and the hardware report the
// serial number. A receiver that does not answer them refuses each as a packet it cannot parse,
// as receivers that predate the queries do.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>

namespace kestrune {

// A product name kept in place, so that a profile, and the behaviour holding it, can be a
// constant. A longer name is cut.
class ProductName {
  public:
    static constexpr std::size_t kLongest = 40;

    constexpr ProductName(std::string_view name) : length_(std::min(name.size(), kLongest)) {
        std::copy_n(name.begin(), length_, chars_.begin());
    }
    constexpr ProductName(const char* name) : ProductName(std::string_view(name)) {}

    constexpr std::string_view view() const { return {chars_.data(), length_}; }
    constexpr bool operator==(const ProductName& other) const { return view() == other.view(); }

  private:
    std::array<char, kLongest> chars_{};
    std::size_t length_ = 0;
};

struct IdentityProfile {
    bool answers = true;
    ProductName product = "Kestrune Virtual Receiver";
    std::uint8_t major = 1;
    std::uint8_t minor = 2;
    std::uint32_t serialNumber = 20260314;
    bool operator==(const IdentityProfile&) const = default;
};

}  // namespace kestrune
