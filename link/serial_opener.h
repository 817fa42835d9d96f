// Opening serial devices: by stored port name, or by device path. An open that fails says why,
// so a front end can tell the user what to do.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "link/serial_port.h"

namespace kestrune {

enum class OpenError {
    None,
    NoSuchDevice,      // no device by that name, or a name that stands for none
    NotATerminal,      // not a character device, or not a terminal
    NotSerialPort,     // a device, but not a serial port: refused before it is opened
    OwnTerminal,       // the terminal the program runs from: refused before it is opened
    PermissionDenied,  // the user may not open it (the dialout group)
    Busy,              // another program holds it
    Failed,            // anything else the device refused
};

struct OpenResult {
    std::unique_ptr<SerialPort> port;
    OpenError error = OpenError::None;
};

// What the link opens its port with: a name in, a port or the reason out.
using PortOpener = std::function<OpenResult(std::string_view)>;

// Opens a serial port or a pseudo-terminal's subordinate side exclusively, in raw mode with its
// modem lines held on, and puts its terminal settings back when the port closes. Every other
// device is refused from its device number before it is opened.
OpenResult openSerialDevice(const std::string& path);

// Opens the device a stored port name stands for (see port_names.h).
OpenResult openSerialPort(std::string_view portName);

}  // namespace kestrune
