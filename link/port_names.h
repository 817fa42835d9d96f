// The one reading of port names. A stored name is at most five characters: letters then digits,
// with an optional trailing ':' and letters in any case ("COM3:", "usb0", "SIM2"). COMn is
// /dev/ttyS(n-1), PTSn is /dev/pts/n, SIMn is a built-in virtual receiver, and any other letters
// name /dev/NAME if it exists, else /dev/ttyNAME. No name can reach a path outside /dev.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kestrune {

// Longest stored port name, such as "COM3:".
inline constexpr std::size_t kMaxPortName = 5;

enum class PortKind { Serial, PseudoTerminal, Virtual, Named };

struct PortName {
    PortKind kind = PortKind::Named;
    std::string_view letters;  // as written
    unsigned number = 0;
};

// Nothing for a name that is too long or not letters then digits.
std::optional<PortName> parsePortName(std::string_view name);

// True when the two names are the same but for letter case.
bool samePortName(std::string_view a, std::string_view b);

// The device path a stored name stands for; empty for a virtual receiver or no device at all.
std::string portDevicePath(std::string_view name);

}  // namespace kestrune
