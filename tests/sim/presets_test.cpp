#include "sim/presets.h"

#include <gtest/gtest.h>

#include "tests/sim/reply_reader.h"

namespace kestrune::test {
namespace {

// 4800 bits/s both ways, 8N1, TSIP in and out.
const Bytes k4800Config = frame({0xBC, 0x00, 0x06, 0x06, 0x03, 0x00, 0x00, 0x00, 0x02, 0x02, 0x00});

std::unique_ptr<SerialPort> openAt(SimulatedDevices& devices, std::string_view name,
                                   const LineSettings& line) {
    std::unique_ptr<SerialPort> port = devices.open(name).port;
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
        const OpenResult opened = devices.open(c.name);
        EXPECT_EQ(opened.port != nullptr, c.preset != 0);
        EXPECT_EQ(opened.error, c.preset != 0 ? OpenError::None : OpenError::NoSuchDevice);
    }
}

TEST(SimulatedDevicesTest, SecondOpenOfADeviceFailsAndStateOutlivesThePort) {
    SimulatedDevices devices(kFactor);
    auto first = openAt(devices, "SIM1", kFactoryLine);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(devices.open("sim1:").error, OpenError::Busy);
    EXPECT_NE(devices.open("SIM3").port, nullptr) << "other devices are free";
    ASSERT_TRUE(first->write(k4800Config));
    first.reset();

    EXPECT_EQ(devices.receiver(1)->settings().line.baud, 4800u);
    EXPECT_EQ(devices.receiver(6), nullptr);
    auto again = openAt(devices, "SIM1", {4800, Parity::None, StopBits::One});
    ASSERT_NE(again, nullptr);
    ASSERT_TRUE(again->write(kPortQuery));
    const std::vector<Frame> frames = framesUntil(*again, 0xBC);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].data, Bytes(k4800Config.begin() + 2, k4800Config.end() - 2));
}

}  // namespace
}  // namespace kestrune::test
