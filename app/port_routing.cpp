#include "app/port_routing.h"

#include <utility>

#include "sim/presets.h"

namespace kestrune {

PortOpener routePortNames(SimulatedDevices& devices, PortOpener devicesElsewhere) {
    return [&devices, elsewhere = std::move(devicesElsewhere)](
               std::string_view name) -> std::unique_ptr<SerialPort> {
        if (SimulatedDevices::isSimulatedName(name)) {
            return devices.open(name);
        }
        return elsewhere ? elsewhere(name) : nullptr;
    };
}

}  // namespace kestrune
