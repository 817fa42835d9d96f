#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "link/port_names.h"

namespace kestrune::test {
namespace {

struct NameCase {
    std::string_view name;
    std::string_view path;
};

constexpr NameCase kNamedDevices[] = {
    {"COM1:", "/dev/ttyS0"},  {"COM1", "/dev/ttyS0"},    {"com3:", "/dev/ttyS2"},
    {"CoM10", "/dev/ttyS9"},  {"COM99", "/dev/ttyS98"},  {"COM01", "/dev/ttyS0"},
    {"PTS0", "/dev/pts/0"},   {"pts12", "/dev/pts/12"},  {"Pts7", "/dev/pts/7"},
    {"USB0", "/dev/ttyUSB0"}, {"ACM0:", "/dev/ttyACM0"}, {"AMA0", "/dev/ttyAMA0"},
    {"mxc0", "/dev/ttymxc0"}, {"QQZ9", "/dev/ttyQQZ9"},  {"QQZ9:", "/dev/ttyQQZ9"},
};

constexpr std::string_view kNoDevice[] = {
    "",     ":",       "::",         "COM0",   "COM0:",    "COM",
    "COMx", "COM123:", "COM1::",     "COM1:x", "pts12:",   "../x",
    "a/b",  "..",      "USB",        "12",     "ttyS0/..", "1USB",
    "US1B", "USB 0",   "USB-0",      "USB.0",  "USB0 ",    " USB0",
    "SIM1", "sim2:",   "\xc3\xa9t1", "USB0\n", "TOOLONG1", std::string_view{"U\0SB0", 5},
};

TEST(PortDevicePath, MapsNamesToDevices) {
    for (const NameCase& row : kNamedDevices) {
        EXPECT_EQ(portDevicePath(row.name), row.path) << "name \"" << row.name << "\"";
    }
}

TEST(PortDevicePath, RefusesNamesThatAreNotDevices) {
    for (const std::string_view name : kNoDevice) {
        EXPECT_EQ(portDevicePath(name), "") << "name \"" << name << "\"";
    }
}

TEST(PortDevicePath, DigitsAndColonCountTowardTheLengthLimit) {
    EXPECT_EQ(portDevicePath("PTS99"), "/dev/pts/99");
    EXPECT_EQ(portDevicePath("PTS99:"), "");
    EXPECT_EQ(portDevicePath("COM9999"), "");
}

// Any letters-then-digits entry of /dev (loop0, a udev link) stands for itself.
TEST(PortDevicePath, PrefersAnExistingDeviceOfThatName) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/dev", error)) {
        const std::string name = entry.path().filename().string();
        const auto parsed = parsePortName(name);
        if (parsed && parsed->kind == PortKind::Named && name.size() < kMaxPortName) {
            EXPECT_EQ(portDevicePath(name), "/dev/" + name);
            EXPECT_EQ(portDevicePath(name + ":"), "/dev/" + name);
            return;
        }
    }
    GTEST_SKIP() << "/dev holds no entry named letters then digits to look up";
}

TEST(PortNames, KindsNumbersAndSameness) {
    EXPECT_EQ(parsePortName("sim2:")->kind, PortKind::Virtual);
    EXPECT_EQ(parsePortName("SIM12")->number, 12u);
    EXPECT_EQ(parsePortName("Com3")->kind, PortKind::Serial);
    EXPECT_FALSE(parsePortName("SIM123"));
    EXPECT_TRUE(samePortName("COM3:", "com3:"));
    EXPECT_FALSE(samePortName("COM3:", "COM3"));
    EXPECT_FALSE(samePortName("COM3:", "COM4:"));
}

}  // namespace
}  // namespace kestrune::test
