#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <optional>
#include <string>

#include "link/platform_services.h"

namespace kestrune {
namespace {

constexpr std::size_t kLongestPortName = 5;

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

bool isShortDeviceName(const std::string& name) {
    const auto isLetter = [](char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; };
    const auto isDigit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
    const auto firstDigit = std::find_if(name.begin(), name.end(), isDigit);
    return name.size() <= kLongestPortName && firstDigit != name.begin() &&
           firstDigit != name.end() && std::all_of(name.begin(), firstDigit, isLetter) &&
           std::all_of(firstDigit, name.end(), isDigit);
}

bool hasReservedPrefix(const std::string& name) {
    std::string upper = name.substr(0, 3);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return upper == "COM" || upper == "SIM" || upper == "PTS";
}

// Any letters-then-digits entry of /dev (tty0, loop0, a udev link) stands for itself.
std::optional<std::string> someShortDeviceName() {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/dev", error)) {
        const std::string name = entry.path().filename().string();
        if (isShortDeviceName(name) && !hasReservedPrefix(name)) {
            return name;
        }
    }
    return std::nullopt;
}

TEST(PortDevicePath, PrefersAnExistingDeviceOfThatName) {
    const std::optional<std::string> name = someShortDeviceName();
    if (!name) {
        GTEST_SKIP() << "/dev holds no entry named letters then digits to look up";
    }
    EXPECT_EQ(portDevicePath(*name), "/dev/" + *name);
    if (name->size() < kLongestPortName) {
        EXPECT_EQ(portDevicePath(*name + ":"), "/dev/" + *name);
    }
}

}  // namespace
}  // namespace kestrune
