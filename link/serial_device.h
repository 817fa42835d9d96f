// Telling a serial port from every other device before anything opens it, and following a
// device path's links without leaving /dev. Opening some devices has effects of its own (a
// watchdog arms, a new pseudo-terminal appears, the user's own terminal receives the probes), so
// the device number decides, never an open.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace kestrune {

enum class DeviceKind {
    SerialPort,      // a terminal with hardware behind it: a UART, a USB adapter, a CDC-ACM device
    PseudoTerminal,  // the subordinate side of a pseudo-terminal
    OwnTerminal,     // the terminal the program runs from, of any kind: a serial console too
    Other,           // anything else: memory devices, consoles, /dev/tty, /dev/ptmx, ...
};

DeviceKind deviceKindOf(dev_t number);
// A serial port or a pseudo-terminal that is not the user's own: a device the program may open.
bool usableKind(DeviceKind kind);

// True for an absolute path that stays inside /dev once "." and ".." are taken out.
bool underDeviceFolder(const std::string& path);

// What a link leads to, as readlink gives it; nothing for anything but a link.
std::optional<std::string> readLink(const std::string& path);

enum class LinkRule {
    LinksLstatSees,         // a device test bed's nodes stand as they are, as devices
    EveryLinkReadlinkGives  // on to what really backs them (a test bed's pseudo-terminal)
};

// The path with its links followed, relative links taken from their folder; nothing for a loop
// of links. A path that does not exist comes back as it is.
std::optional<std::string> followLinks(const std::string& path, LinkRule rule);
// followLinks as the opener names devices: LinksLstatSees.
std::optional<std::string> resolveDeviceLinks(const std::string& path);

}  // namespace kestrune
