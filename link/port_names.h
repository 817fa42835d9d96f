// The one reading of port names. A stored name is at most five characters: letters then digits,
// with an optional trailing ':' and letters in any case ("COM3:", "usb0", "SIM2"). COMn is
// /dev/ttyS(n-1), PTSn is /dev/pts/n, SIMn is a built-in virtual receiver, and any other letters
// name /dev/NAME if it exists, else /dev/ttyNAME. A port may also be named by an absolute path
// under /dev of up to 255 characters, links included (/dev/serial/by-id/...), as long as it
// still leads under /dev once they are followed. No name can reach a path outside /dev.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kestrune {

// Longest stored port name, such as "COM3:".
inline constexpr std::size_t kMaxPortName = 5;
// Longest device path a port may be named by.
inline constexpr std::size_t kMaxPortPath = 255;

// True for a name that is a path rather than a stored short name.
bool isDevicePath(std::string_view name);

enum class PortKind { Serial, PseudoTerminal, Virtual, Named };

struct PortName {
    PortKind kind = PortKind::Named;
    std::string_view letters;  // as written
    unsigned number = 0;
};

// Nothing for a name that is too long or not letters then digits.
std::optional<PortName> parsePortName(std::string_view name);

// True when the two names are the same: short names but for letter case, paths exactly.
bool samePortName(std::string_view a, std::string_view b);

// The device path a stored name or a device path stands for, links followed; empty for a
// virtual receiver or no device at all.
std::string portDevicePath(std::string_view name);

// A name the settings file may hold: a short name of at most kMaxPortName printable ASCII
// characters, or a device path that leads, links followed, to a serial port or pseudo-terminal
// under /dev, or to nothing yet (an unplugged adapter's by-id link).
bool storablePortName(std::string_view name);

// The stored name that stands for a device path (/dev/ttyS0 is COM1, /dev/ttyUSB0 is USB0);
// empty when no stored name leads back to it.
std::string storeNameOf(std::string_view device);

}  // namespace kestrune
