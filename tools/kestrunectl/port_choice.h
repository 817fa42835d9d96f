// The port a command works on: a stored port name (COM3:, USB0, SIM2, PTS4), or an absolute
// path of a terminal device under /dev, links included (/dev/serial/by-id/...).
#pragma once

#include <optional>
#include <string>

#include "link/serial_opener.h"

namespace kestrune::ctl {

struct PortChoice {
    // What the link is given: a stored port name, or the device path with links resolved.
    std::string linkName;
    // How results and messages name the port: the device path, or the name of a virtual
    // receiver.
    std::string shown;
    // The device file with links resolved; empty for a virtual receiver or no device.
    std::string device;
};

// The port -p names, or the stored one without -p. Nothing, with the reason in problem, for an
// argument that is neither a port name nor a path under /dev (a link included: its target must
// be under /dev too).
std::optional<PortChoice> choosePort(const std::optional<std::string>& argument,
                                     std::string& problem);

}  // namespace kestrune::ctl
