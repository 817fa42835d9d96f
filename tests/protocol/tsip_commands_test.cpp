#include "protocol/tsip_commands.h"

#include <gtest/gtest.h>

#include <vector>

namespace kestrune::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct FrameCase {
    const char* name;
    TsipFrame frame;
    Bytes expected;
};

void PrintTo(const FrameCase& c, std::ostream* os) {
    *os << c.name;
}

class CommandFrames : public testing::TestWithParam<FrameCase> {};

TEST_P(CommandFrames, AreByteExact) {
    const auto bytes = GetParam().frame.bytes();
    EXPECT_EQ(Bytes(bytes.begin(), bytes.end()), GetParam().expected);
}

const FrameCase kFrames[] = {
    {"PortConfigQuery", portConfigQuery(), {0x10, 0xBC, 0x00, 0x10, 0x03}},
    {"NmeaQuery", nmeaQuery(), {0x10, 0x7A, 0x00, 0x10, 0x03}},
    {"PortConfig19200OddNmea",
     portConfig({19200, Parity::Odd, StopBits::One}, OutputProtocol::Nmea),
     {0x10, 0xBC, 0x00, 0x08, 0x08, 0x03, 0x01, 0x00, 0x00, 0x02, 0x04, 0x00, 0x10, 0x03}},
    {"PortConfigFactory",
     portConfig(kFactoryLine, OutputProtocol::Tsip),
     {0x10, 0xBC, 0x00, 0x07, 0x07, 0x03, 0x00, 0x00, 0x00, 0x02, 0x02, 0x00, 0x10, 0x03}},
    {"PortConfig19200EvenTwoStop",
     portConfig({19200, Parity::Even, StopBits::Two}, OutputProtocol::Tsip),
     {0x10, 0xBC, 0x00, 0x08, 0x08, 0x03, 0x02, 0x01, 0x00, 0x02, 0x02, 0x00, 0x10, 0x03}},
    {"PortConfig1200And38400",
     portConfig({1200, Parity::None, StopBits::One}, OutputProtocol::Tsip),
     {0x10, 0xBC, 0x00, 0x04, 0x04, 0x03, 0x00, 0x00, 0x00, 0x02, 0x02, 0x00, 0x10, 0x03}},
    {"PortConfigRateNotOfferedFallsBackToFactoryCode",
     portConfig({115200, Parity::None, StopBits::One}, OutputProtocol::Tsip),
     {0x10, 0xBC, 0x00, 0x07, 0x07, 0x03, 0x00, 0x00, 0x00, 0x02, 0x02, 0x00, 0x10, 0x03}},
    {"NmeaConfigGgaVtg",
     nmeaConfig(kMaskGga | kMaskVtg),
     {0x10, 0x7A, 0x00, 0x01, 0x00, 0x00, 0x00, 0x05, 0x10, 0x03}},
    {"NmeaConfigAll",
     nmeaConfig(0x7F),
     {0x10, 0x7A, 0x00, 0x01, 0x00, 0x00, 0x01, 0x3F, 0x10, 0x03}},
    {"NmeaConfigGsaAloneDoublesDle",
     nmeaConfig(kMaskGsa),
     {0x10, 0x7A, 0x00, 0x01, 0x00, 0x00, 0x00, 0x10, 0x10, 0x10, 0x03}},
    {"NmeaConfigIgnoresBitsAboveRmc",
     nmeaConfig(0xFFFFFF80u | kMaskGll),
     {0x10, 0x7A, 0x00, 0x01, 0x00, 0x00, 0x00, 0x02, 0x10, 0x03}},
    {"DataLongerThanACommandIsRefused", frameTsip(0x8E, Bytes(TsipFrame::kMaxData + 1, 0)), {}},
};

INSTANTIATE_TEST_SUITE_P(TsipCommands, CommandFrames, testing::ValuesIn(kFrames),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kestrune::test
