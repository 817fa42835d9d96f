#include "protocol/tsip_commands.h"
#include "protocol/tsip_identity.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace kestrune::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A port configuration: port 0, the baud code in and out, 8 data bits, parity, stop bits, no flow
// control, TSIP in, the output protocol, a reserved byte. A rate the receiver does not offer
// falls back to the factory rate's code, 9600 bits/s. The NMEA configuration: subcode, once a
// second, the mask most significant byte first with RMC in bit 8, bits above RMC ignored. The
// identity queries: 0x1C with its subcode, and 0x1F alone.
TEST(TsipCommands, FramesAreByteExact) {
    const std::tuple<const char*, TsipFrame, Bytes> cases[] = {
        {"PortConfigQuery", portConfigQuery(), {0x10, 0xBC, 0x00, 0x10, 0x03}},
        {"NmeaQuery", nmeaQuery(), {0x10, 0x7A, 0x00, 0x10, 0x03}},
        {"SignalLevelQuery", signalLevelQuery(), {0x10, 0x27, 0x10, 0x03}},
        {"PortConfig19200OddNmea",
         portConfig({19200, Parity::Odd, StopBits::One}, OutputProtocol::Nmea),
         {0x10, 0xBC, 0x00, 0x08, 0x08, 0x03, 0x01, 0x00, 0x00, 0x02, 0x04, 0x00, 0x10, 0x03}},
        {"PortConfig19200EvenTwoStop",
         portConfig({19200, Parity::Even, StopBits::Two}, OutputProtocol::Tsip),
         {0x10, 0xBC, 0x00, 0x08, 0x08, 0x03, 0x02, 0x01, 0x00, 0x02, 0x02, 0x00, 0x10, 0x03}},
        {"PortConfig1200",
         portConfig({1200, Parity::None, StopBits::One}, OutputProtocol::Tsip),
         {0x10, 0xBC, 0x00, 0x04, 0x04, 0x03, 0x00, 0x00, 0x00, 0x02, 0x02, 0x00, 0x10, 0x03}},
        {"PortConfigRateNotOfferedFallsBackToFactoryCode",
         portConfig({115200, Parity::None, StopBits::One}, OutputProtocol::Tsip),
         {0x10, 0xBC, 0x00, 0x07, 0x07, 0x03, 0x00, 0x00, 0x00, 0x02, 0x02, 0x00, 0x10, 0x03}},
        {"NmeaConfigAll",
         nmeaConfig(0x7F),
         {0x10, 0x7A, 0x00, 0x01, 0x00, 0x00, 0x01, 0x3F, 0x10, 0x03}},
        {"NmeaConfigGsaAloneDoublesDle",
         nmeaConfig(kMaskGsa),
         {0x10, 0x7A, 0x00, 0x01, 0x00, 0x00, 0x00, 0x10, 0x10, 0x10, 0x03}},
        {"NmeaConfigIgnoresBitsAboveRmc",
         nmeaConfig(0xFFFFFF80u | kMaskGll),
         {0x10, 0x7A, 0x00, 0x01, 0x00, 0x00, 0x00, 0x02, 0x10, 0x03}},
        {"FirmwareQuery", firmwareQuery(), {0x10, 0x1C, 0x01, 0x10, 0x03}},
        {"HardwareQuery", hardwareQuery(), {0x10, 0x1C, 0x03, 0x10, 0x03}},
        {"SoftwareVersionQuery", softwareVersionQuery(), {0x10, 0x1F, 0x10, 0x03}},
        {"DataLongerThanACommandIsRefused", frameTsip(0x8E, Bytes(TsipFrame::kMaxData + 1, 0)), {}},
    };
    for (const auto& [name, frame, expected] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(Bytes(frame.bytes().begin(), frame.bytes().end()), expected);
    }
}

}  // namespace
}  // namespace kestrune::test
