#include "protocol/tsip_identity.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/report_text.h"

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
const SoftwareVersion kSoftwareRead{{1, 2, {2026, 3, 14}}, {3, 1, {1999, 12, 31}}};

// Each report is read whole, its text printable and unpadded; a report cut off anywhere, or one
// of another subcode, is refused. A version report longer than ten bytes is read from its first
// ten.
TEST(TsipIdentity, ReportsAreReadWholeOrNotAtAll) {
    EXPECT_EQ(decodeFirmwareReport(kFirmware),
              (FirmwareReport{named("Kes"), 1, 2, 7, {2026, 3, 14}}));
    EXPECT_EQ(decodeHardwareReport(kHardware),
              (HardwareReport{20260314, 1001, named("A?B"), {2026, 3, 14}}));
    Bytes longer = kSoftware;
    longer.insert(longer.end(), {0x07, 0x08, 0x09});
    for (const Bytes& software : {kSoftware, longer}) {
        EXPECT_EQ(decodeSoftwareVersion(software), kSoftwareRead);
    }
    for (std::size_t cut = 0; cut < kSoftware.size(); ++cut) {
        EXPECT_FALSE(decodeSoftwareVersion(std::span(kSoftware).first(cut))) << cut;
    }
    for (std::size_t cut = 0; cut < kHardware.size(); ++cut) {
        EXPECT_FALSE(
            decodeFirmwareReport(std::span(kFirmware).first(std::min(cut, kFirmware.size() - 1))));
        EXPECT_FALSE(decodeHardwareReport(std::span(kHardware).first(cut)));
    }
    EXPECT_FALSE(decodeFirmwareReport(kHardware));
    EXPECT_FALSE(decodeHardwareReport(kFirmware));
    // A name longer than is worth showing is cut.
    Bytes longName(kFirmware.begin(), kFirmware.begin() + 9);
    longName.push_back(50);
    longName.insert(longName.end(), 50, 'x');
    const std::optional<FirmwareReport> cutName = decodeFirmwareReport(longName);
    ASSERT_TRUE(cutName);
    EXPECT_EQ(cutName->product.view(), std::string(40, 'x'));
}

}  // namespace
}  // namespace kestrune::test
