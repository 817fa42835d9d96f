#include "protocol/tsip_commands.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace kestrune {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Records each write whole, so a frame written in pieces would show.
class RecordingPort : public SerialPort {
  public:
    std::vector<Bytes> writes;
    bool write(std::span<const std::uint8_t> bytes) override {
        writes.emplace_back(bytes.begin(), bytes.end());
        return true;
    }
    ReadResult readByte(std::uint8_t&) override { return ReadResult::Nothing; }
    bool setReadCeiling(std::chrono::milliseconds) override { return true; }
    bool getLineSettings(LineSettings&) override { return true; }
    bool setLineSettings(const LineSettings&) override { return true; }
    bool setBreak(bool) override { return true; }
};

struct FrameCase {
    const char* name;
    std::function<bool(SerialPort&)> send;
    Bytes expected;
};

void PrintTo(const FrameCase& c, std::ostream* os) {
    *os << c.name;
}

class SenderTable : public testing::TestWithParam<FrameCase> {};

TEST_P(SenderTable, WritesTheWholeFrameInOneWrite) {
    RecordingPort port;
    EXPECT_TRUE(GetParam().send(port));
    EXPECT_EQ(port.writes, std::vector<Bytes>{GetParam().expected});
}

const FrameCase kFrames[] = {
    {"PortConfigQuery", sendPortConfigQuery, {0x10, 0xBC, 0x00, 0x10, 0x03}},
    {"NmeaQuery", sendNmeaQuery, {0x10, 0x7A, 0x00, 0x10, 0x03}},
    {"PortConfig19200OddNmea",
     [](SerialPort& p) {
         return sendPortConfig(p, baudCode(19200), parityByte(kParityOdd),
                               stopBitsByte(kOneStopBit), protocolByte(1));
     },
     {0x10, 0xBC, 0x00, 0x08, 0x08, 0x03, 0x01, 0x00, 0x00, 0x02, 0x04, 0x00, 0x10, 0x03}},
    {"PortConfigFactory",
     [](SerialPort& p) { return sendPortConfig(p, 7, 0, 0, 2); },
     {0x10, 0xBC, 0x00, 0x07, 0x07, 0x03, 0x00, 0x00, 0x00, 0x02, 0x02, 0x00, 0x10, 0x03}},
    {"PortConfig19200EvenTwoStop",
     [](SerialPort& p) {
         return sendPortConfig(p, baudCode(19200), parityByte(kParityEven),
                               stopBitsByte(kTwoStopBits), protocolByte(0));
     },
     {0x10, 0xBC, 0x00, 0x08, 0x08, 0x03, 0x02, 0x01, 0x00, 0x02, 0x02, 0x00, 0x10, 0x03}},
    {"NmeaConfigGgaVtg",
     [](SerialPort& p) { return sendNmeaConfig(p, 0x05); },
     {0x10, 0x7A, 0x00, 0x01, 0x00, 0x00, 0x00, 0x05, 0x10, 0x03}},
    {"NmeaConfigAll",
     [](SerialPort& p) { return sendNmeaConfig(p, 0x7F); },
     {0x10, 0x7A, 0x00, 0x01, 0x00, 0x00, 0x01, 0x3F, 0x10, 0x03}},
    {"NmeaConfigGsaAloneDoublesDle",
     [](SerialPort& p) { return sendNmeaConfig(p, 0x10); },
     {0x10, 0x7A, 0x00, 0x01, 0x00, 0x00, 0x00, 0x10, 0x10, 0x10, 0x03}},
    {"NmeaConfigIgnoresBitsAboveRmc",
     [](SerialPort& p) { return sendNmeaConfig(p, 0xFFFFFF80u | kMaskGll); },
     {0x10, 0x7A, 0x00, 0x01, 0x00, 0x00, 0x00, 0x02, 0x10, 0x03}},
};

INSTANTIATE_TEST_SUITE_P(TsipCommands, SenderTable, testing::ValuesIn(kFrames),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TsipCommands, CodeTablesFallBackForValuesOutsideThem) {
    const std::pair<std::uint32_t, std::uint8_t> bauds[] = {
        {300, 2},  {600, 3},   {1200, 4},  {2400, 5}, {4800, 6},
        {9600, 7}, {19200, 8}, {38400, 9}, {0, 7},    {115200, 7}};
    for (const auto& [baud, code] : bauds) {
        EXPECT_EQ(baudCode(baud), code) << baud;
    }
    EXPECT_EQ(parityByte(kParityNone), 0);
    EXPECT_EQ(parityByte(kParityOdd), 1);
    EXPECT_EQ(parityByte(kParityEven), 2);
    EXPECT_EQ(parityByte(5), 0);
    EXPECT_EQ(stopBitsByte(kOneStopBit), 0);
    EXPECT_EQ(stopBitsByte(kTwoStopBits), 1);
    EXPECT_EQ(stopBitsByte(1), 0);
    EXPECT_EQ(protocolByte(1), kNmeaProtocolByte);
    EXPECT_EQ(protocolByte(0), kTsipProtocolByte);
    EXPECT_EQ(protocolByte(4), kTsipProtocolByte);
}

TEST(TsipCommands, FrameThatDoesNotFitIsRefused) {
    const std::uint8_t data[] = {0x10, 0x10};
    std::uint8_t small[7];
    EXPECT_EQ(frameTsip(0x7A, data, small), 0u);
    std::uint8_t enough[8];
    EXPECT_EQ(frameTsip(0x7A, data, enough), 8u);
}

}  // namespace
}  // namespace kestrune
