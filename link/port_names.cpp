#include "link/port_names.h"

#include <sys/stat.h>

#include "link/serial_device.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>

namespace kestrune {

namespace {

constexpr char kNameEnd = ':';
constexpr char kPathStart = '/';
constexpr char kFirstPrintable = 0x20;
constexpr char kLastPrintable = 0x7E;
constexpr unsigned kDecimalBase = 10;

constexpr std::string_view kSerialPrefix = "COM";
constexpr std::string_view kVirtualPrefix = "SIM";
constexpr std::string_view kPseudoTerminalPrefix = "PTS";

constexpr std::string_view kDeviceFolder = "/dev/";
// COMn counts from 1, its device from 0.
constexpr std::string_view kSerialDevice = "/dev/ttyS";
constexpr std::string_view kPseudoTerminalFolder = "/dev/pts/";
constexpr std::string_view kTerminalDevice = "/dev/tty";

bool isAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}
char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return upper(x) == upper(y); });
}

std::string_view withoutNameEnd(std::string_view name) {
    if (!name.empty() && name.back() == kNameEnd) {
        name.remove_suffix(1);
    }
    return name;
}

std::string joined(std::string_view folder, std::string_view rest) {
    std::string path(folder);
    path.append(rest);
    return path;
}

}  // namespace

std::optional<PortName> parsePortName(std::string_view name) {
    if (name.size() > kMaxPortName) {
        return std::nullopt;
    }
    name = withoutNameEnd(name);
    const auto firstDigit = std::find_if_not(name.begin(), name.end(), isAsciiLetter);
    const std::string_view letters(name.begin(), firstDigit);
    const std::string_view digits(firstDigit, name.end());
    if (letters.empty() || digits.empty() ||
        !std::all_of(digits.begin(), digits.end(), isAsciiDigit)) {
        return std::nullopt;
    }
    PortName parsed;
    parsed.letters = letters;
    // At most four digits: the number cannot overflow.
    for (const char c : digits) {
        parsed.number = parsed.number * kDecimalBase + static_cast<unsigned>(c - '0');
    }
    if (equalIgnoringCase(letters, kSerialPrefix)) {
        parsed.kind = PortKind::Serial;
    } else if (equalIgnoringCase(letters, kVirtualPrefix)) {
        parsed.kind = PortKind::Virtual;
    } else if (equalIgnoringCase(letters, kPseudoTerminalPrefix)) {
        parsed.kind = PortKind::PseudoTerminal;
    }
    return parsed;
}

bool isDevicePath(std::string_view name) {
    return !name.empty() && name.front() == kPathStart;
}

bool samePortName(std::string_view a, std::string_view b) {
    return isDevicePath(a) || isDevicePath(b) ? a == b : equalIgnoringCase(a, b);
}

std::string portDevicePath(std::string_view name) {
    if (isDevicePath(name)) {
        const std::string path(name);
        const std::optional<std::string> resolved =
            name.size() <= kMaxPortPath && underDeviceFolder(path) ? resolveDeviceLinks(path)
                                                                   : std::nullopt;
        return resolved && underDeviceFolder(*resolved) ? *resolved : std::string{};
    }
    const std::optional<PortName> parsed = parsePortName(name);
    if (!parsed) {
        return {};
    }
    switch (parsed->kind) {
        case PortKind::Serial:
            return parsed->number == 0 ? std::string{}
                                       : joined(kSerialDevice, std::to_string(parsed->number - 1));
        case PortKind::PseudoTerminal:
            return joined(kPseudoTerminalFolder, std::to_string(parsed->number));
        case PortKind::Virtual:
            return {};
        case PortKind::Named:
            break;
    }
    const std::string bare(withoutNameEnd(name));
    std::string path = joined(kDeviceFolder, bare);
    std::error_code error;
    if (std::filesystem::exists(path, error)) {
        return path;
    }
    return joined(kTerminalDevice, bare);
}

bool storablePortName(std::string_view name) {
    if (!std::all_of(name.begin(), name.end(),
                     [](char c) { return c >= kFirstPrintable && c <= kLastPrintable; })) {
        return false;
    }
    if (!isDevicePath(name)) {
        return name.size() <= kMaxPortName;
    }
    const std::string device = portDevicePath(name);
    struct stat status {};
    if (device.empty() || ::stat(device.c_str(), &status) != 0) {
        return !device.empty() && errno == ENOENT;
    }
    return S_ISCHR(status.st_mode) && usableKind(deviceKindOf(status.st_rdev));
}

std::string storeNameOf(std::string_view device) {
    std::string name;
    if (device.starts_with(kSerialDevice)) {
        unsigned number = 0;
        for (const char c : device.substr(kSerialDevice.size())) {
            if (!isAsciiDigit(c)) {
                return {};
            }
            number = number * kDecimalBase + static_cast<unsigned>(c - '0');
        }
        name = std::string(kSerialPrefix) + std::to_string(number + 1);
    } else if (device.starts_with(kPseudoTerminalFolder)) {
        name =
            std::string(kPseudoTerminalPrefix).append(device.substr(kPseudoTerminalFolder.size()));
    } else if (device.starts_with(kTerminalDevice)) {
        name = device.substr(kTerminalDevice.size());
    }
    return !name.empty() && portDevicePath(name) == device ? name : std::string{};
}

}  // namespace kestrune
