#include "protocol/tsip_identity.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrune::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Firmware 1.2 build 7 of 14 March 2026, its name padded with a NUL and a blank.
const Bytes kFirmware{0x81, 0x00, 0x01, 0x02, 0x07, 0x03, 0x0E, 0x07,
                      0xEA, 0x05, 'K',  'e',  's',  0x00, ' '};
// Serial 20260314, built 14 March 2026 at 9, hardware code 1001, a control byte in its name.
const Bytes kHardware{0x83, 0x01, 0x35, 0x25, 0xDA, 0x0E, 0x03, 0x07,
                      0xEA, 0x09, 0x03, 0xE9, 0x03, 'A',  0x1B, 'B'};
// Version 1.2 of 14 March 2026, core 3.1 of 31 December 1999.
const Bytes kSoftware{0x01, 0x02, 0x03, 0x1A, 0x0E, 0x03, 0x01, 0x0C, 0x63, 0x1F};

// Each report is read whole, its text printable and unpadded; a report cut off anywhere, one of
// another subcode, and a version report of any other length are refused.
TEST(TsipIdentity, ReportsAreReadWholeOrNotAtAll) {
    const auto firmware = decodeFirmwareReport(kFirmware);
    const auto hardware = decodeHardwareReport(kHardware);
    EXPECT_EQ(firmware, (FirmwareReport{firmware->product, 1, 2, 7, {2026, 3, 14}}));
    EXPECT_EQ(hardware, (HardwareReport{20260314, 1001, hardware->product, {2026, 3, 14}}));
    EXPECT_EQ(firmware->product.view(), "Kes");
    EXPECT_EQ(hardware->product.view(), "A?B");
    EXPECT_EQ(decodeSoftwareVersion(kSoftware),
              (SoftwareVersion{{1, 2, {2026, 3, 14}}, {3, 1, {1999, 12, 31}}}));
    for (std::size_t cut = 0; cut < kHardware.size(); ++cut) {
        EXPECT_FALSE(
            decodeFirmwareReport(std::span(kFirmware).first(std::min(cut, kFirmware.size() - 1))));
        EXPECT_FALSE(decodeHardwareReport(std::span(kHardware).first(cut)));
        EXPECT_EQ(decodeSoftwareVersion(std::span(kHardware).first(cut)).has_value(), cut == 10);
    }
    EXPECT_FALSE(decodeFirmwareReport(kHardware));
    EXPECT_FALSE(decodeHardwareReport(kFirmware));
    // A name longer than is worth showing is cut.
    Bytes longName(kFirmware.begin(), kFirmware.begin() + 9);
    longName.push_back(50);
    longName.insert(longName.end(), 50, 'x');
    EXPECT_EQ(decodeFirmwareReport(longName)->product.view(), std::string(40, 'x'));
}

}  // namespace
}  // namespace kestrune::test
