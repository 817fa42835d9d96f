// Stored port names to device paths. A name is one run of ASCII letters and one of digits, and
// only ever becomes a path under /dev: anything with a slash, a dot or any other character
// stands for no device.
#include <cctype>
#include <filesystem>
#include <optional>
#include <system_error>

#include "link/platform_services.h"

namespace kestrune {

namespace {

constexpr char kNameEnd = ':';
constexpr int kDecimalBase = 10;

constexpr std::string_view kSerialPrefix = "COM";
// SIMn names the built-in virtual receiver, which the program reaches without a device.
constexpr std::string_view kVirtualPrefix = "SIM";
constexpr std::string_view kPseudoTerminalPrefix = "PTS";

constexpr std::string_view kDeviceFolder = "/dev/";
// COMn counts from 1, its device from 0.
constexpr std::string_view kSerialDevice = "/dev/ttyS";
constexpr std::string_view kPseudoTerminalFolder = "/dev/pts/";
constexpr std::string_view kTerminalDevice = "/dev/tty";

struct SplitName {
    std::string_view letters;
    std::string_view digits;
};

bool isAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}

// Letters then digits, at least one of each; nothing else.
std::optional<SplitName> splitName(std::string_view name) {
    std::size_t letterCount = 0;
    while (letterCount < name.size() && isAsciiLetter(name[letterCount])) {
        ++letterCount;
    }
    const std::string_view digits = name.substr(letterCount);
    if (letterCount == 0 || digits.empty()) {
        return std::nullopt;
    }
    for (const char c : digits) {
        if (!isAsciiDigit(c)) {
            return std::nullopt;
        }
    }
    return SplitName{name.substr(0, letterCount), digits};
}

bool samePrefix(std::string_view letters, std::string_view prefix) {
    if (letters.size() != prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < letters.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(letters[i])) != prefix[i]) {
            return false;
        }
    }
    return true;
}

// A short name holds at most four digits, so the number cannot overflow.
unsigned numberOf(std::string_view digits) {
    unsigned number = 0;
    for (const char c : digits) {
        number = number * kDecimalBase + static_cast<unsigned>(c - '0');
    }
    return number;
}

std::string joined(std::string_view folder, std::string_view rest) {
    std::string path(folder);
    path.append(rest);
    return path;
}

std::string serialDevicePath(std::string_view digits) {
    const unsigned number = numberOf(digits);
    if (number == 0) {
        return {};
    }
    return joined(kSerialDevice, std::to_string(number - 1));
}

std::string namedDevicePath(std::string_view name) {
    std::string path = joined(kDeviceFolder, name);
    std::error_code error;
    if (std::filesystem::exists(path, error)) {
        return path;
    }
    return joined(kTerminalDevice, name);
}

}  // namespace

std::string portDevicePath(std::string_view portName) {
    if (portName.size() > kMaxPortName) {
        return {};
    }
    if (!portName.empty() && portName.back() == kNameEnd) {
        portName.remove_suffix(1);
    }
    const std::optional<SplitName> split = splitName(portName);
    if (!split) {
        return {};
    }
    if (samePrefix(split->letters, kSerialPrefix)) {
        return serialDevicePath(split->digits);
    }
    if (samePrefix(split->letters, kVirtualPrefix)) {
        return {};
    }
    if (samePrefix(split->letters, kPseudoTerminalPrefix)) {
        return joined(kPseudoTerminalFolder, std::to_string(numberOf(split->digits)));
    }
    return namedDevicePath(portName);
}

}  // namespace kestrune
