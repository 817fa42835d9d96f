#include "sim/presets.h"

#include <gtest/gtest.h>

#include <set>

#include "tests/sim/reply_reader.h"

namespace kestrune::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kPortQuery{0x10, 0xBC, 0x00, 0x10, 0x03};
const Bytes kFactoryConfig{0x10, 0xBC, 0x00, 0x07, 0x07, 0x03, 0x00,
                           0x00, 0x00, 0x02, 0x02, 0x00, 0x10, 0x03};
const Bytes k4800Config{0x10, 0xBC, 0x00, 0x06, 0x06, 0x03, 0x00,
                        0x00, 0x00, 0x02, 0x02, 0x00, 0x10, 0x03};

std::unique_ptr<SerialPort> openAt(SimulatedDevices& devices, std::string_view name,
                                   const LineSettings& line) {
    std::unique_ptr<SerialPort> port = devices.open(name);
    if (port) {
        EXPECT_TRUE(port->setReadCeiling(kShortCeiling));
        EXPECT_TRUE(port->setLineSettings(line));
    }
    return port;
}

struct NameCase {
    const char* name;
    bool simulated;
    int preset;
};

TEST(SimulatedDevicesTest, NamesSimFollowedByDigitsInAnyCase) {
    const NameCase cases[] = {
        {"SIM1", true, 1},     {"sim2:", true, 2},          {"Sim5", true, 5},
        {"SIM6", true, 0},     {"SIM0", true, 0},           {"SIM", false, 0},
        {"SIM:", false, 0},    {"COM1:", false, 0},         {"SIMA", false, 0},
        {"SIM1::", false, 0},  {"XSIM1", false, 0},         {"", false, 0},
        {"SIM0001", false, 0}, {"sim000000005:", false, 0}, {"SIM01:", false, 0},
    };
    SimulatedDevices devices(kFactor);
    for (const NameCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(SimulatedDevices::isSimulatedName(c.name), c.simulated);
        EXPECT_EQ(SimulatedDevices::presetNumber(c.name), c.preset);
        EXPECT_EQ(devices.open(c.name) != nullptr, c.preset != 0);
    }
}

struct PresetCase {
    int number;
    LineSettings line;
    OutputProtocol output;
    Answering answering;
};

TEST(SimulatedDevicesTest, PresetsStartAsNamed) {
    const PresetCase cases[] = {
        {1, {9600, kParityNone, kOneStopBit}, OutputProtocol::Tsip, Answering::ExactSettings},
        {2, {4800, kParityNone, kOneStopBit}, OutputProtocol::Nmea, Answering::ExactSettings},
        {3, {38400, kParityOdd, kOneStopBit}, OutputProtocol::Tsip, Answering::ExactSettings},
        {4, {9600, kParityNone, kOneStopBit}, OutputProtocol::Tsip, Answering::Silent},
        {5, {9600, kParityNone, kOneStopBit}, OutputProtocol::Tsip, Answering::RejectsPortConfig},
    };
    SimulatedDevices devices(kFactor);
    for (const PresetCase& c : cases) {
        SCOPED_TRACE(c.number);
        VirtualReceiver* receiver = devices.receiver(c.number);
        ASSERT_NE(receiver, nullptr);
        EXPECT_EQ(receiver->settings().line, c.line);
        EXPECT_EQ(receiver->settings().output, c.output);
        EXPECT_EQ(receiver->behaviour().answering, c.answering);
    }
    EXPECT_EQ(devices.receiver(0), nullptr);
    EXPECT_EQ(devices.receiver(6), nullptr);
}

TEST(SimulatedDevicesTest, Sim2StreamsGgaGllAndRmc) {
    SimulatedDevices devices(kFactor);
    auto port = openAt(devices, "SIM2", {4800, kParityNone, kOneStopBit});
    ASSERT_NE(port, nullptr);
    const std::vector<std::string> sentences = splitSentences(readBytes(*port, 600));
    std::set<std::string> kinds;
    for (const std::string& sentence : sentences) {
        EXPECT_TRUE(checksumValid(sentence)) << sentence;
        kinds.insert(sentence.substr(0, 7));
    }
    EXPECT_EQ(kinds, (std::set<std::string>{"$GPGGA,", "$GPGLL,", "$GPRMC,"}));
}

TEST(SimulatedDevicesTest, SecondOpenOfADeviceFailsAndStateOutlivesThePort) {
    SimulatedDevices devices(kFactor);
    auto first = openAt(devices, "SIM1", {9600, kParityNone, kOneStopBit});
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(devices.open("sim1:"), nullptr);
    EXPECT_NE(devices.open("SIM3"), nullptr) << "other devices are free";
    ASSERT_TRUE(first->write(k4800Config));
    first.reset();

    EXPECT_EQ(devices.receiver(1)->settings().line.baud, 4800u);
    auto again = openAt(devices, "SIM1", {4800, kParityNone, kOneStopBit});
    ASSERT_NE(again, nullptr);
    ASSERT_TRUE(again->write(kPortQuery));
    const auto report = waitForFrame(*again, 0xBC);
    ASSERT_TRUE(report.has_value());
    EXPECT_EQ(report->data.at(1), 0x06);
}

TEST(SimulatedDevicesTest, Sim5RejectsEveryPortConfigurationButAnswersQueries) {
    SimulatedDevices devices(kFactor);
    auto port = openAt(devices, "SIM5", {9600, kParityNone, kOneStopBit});
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(port->write(kFactoryConfig));
    ASSERT_TRUE(port->write(kPortQuery));
    std::vector<Frame> before;
    ASSERT_TRUE(waitForFrame(*port, 0xBC, &before).has_value());
    const Bytes config(kFactoryConfig.begin() + 1, kFactoryConfig.end() - 2);
    EXPECT_EQ(before, (std::vector<Frame>{Frame{0x13, config}}));
}

TEST(SimulatedDevicesTest, Sim4HearsButSendsNothing) {
    SimulatedDevices devices(kFactor);
    auto port = openAt(devices, "SIM4", {9600, kParityNone, kOneStopBit});
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(port->write(kPortQuery));
    ASSERT_TRUE(port->write(k4800Config));
    EXPECT_TRUE(devices.receiver(4)->hostWrites().at(0).heard);
    EXPECT_EQ(devices.receiver(4)->settings().line.baud, 4800u) << "it still obeys";
    ASSERT_TRUE(port->setLineSettings({4800, kParityNone, kOneStopBit}));
    EXPECT_TRUE(nothingArrives(*port, 20));
}

}  // namespace
}  // namespace kestrune::test
