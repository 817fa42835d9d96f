// The POSIX serial port behind openSerialPort, reachable by device path for the link's tests and
// benchmarks, which put pseudo-terminals (and files that are not terminals) behind it.
#pragma once

#include <memory>
#include <string>

#include "link/platform_services.h"

namespace kestrune {

// Opens a terminal device by path, exclusively, in raw mode with its modem lines held on;
// nothing for a missing file, a file that is not a terminal or a device already in use.
std::unique_ptr<SerialPort> openSerialDevice(const std::string& path);

}  // namespace kestrune
