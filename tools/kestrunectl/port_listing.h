// What kestrunectl ports prints: one aligned line per serial port, or a JSON array of objects.
//   /dev/ttyUSB0  USB0  usbserial_generic  1234:5678 Example Devices USB Serial Adapter (A1)
//       ready  /dev/serial/by-id/usb-Example_Devices_...
#pragma once

#include <string>
#include <vector>

#include "link/port_list.h"

namespace kestrune::ctl {

// Whether a search may use the port: "ready", or why not and what to do.
std::string portState(const ListedPort& port);
// True when a search may send to it: this user may open it and no other program holds it.
bool searchable(const ListedPort& port);

std::string portsText(const std::vector<ListedPort>& ports);
std::string portsJson(const std::vector<ListedPort>& ports);

// kestrunectl ports: prints the listing; 0, or 1 when there is no port at all.
int runPorts(bool all, bool json);

}  // namespace kestrune::ctl
