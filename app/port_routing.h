// Where the program's port names lead: SIMn names to the built-in virtual receivers, every
// other name to the opener of real devices.
#pragma once

#include "link/receiver_link.h"

namespace kestrune {

class SimulatedDevices;

// An opener for the link. The devices must outlive every port it opens.
PortOpener routePortNames(SimulatedDevices& devices, PortOpener devicesElsewhere);

}  // namespace kestrune
