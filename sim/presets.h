// The virtual receivers a port name SIM1 to SIM6 attaches to. Each is one device for the whole
// run: it keeps its state while no port is open on it, and only one port can be open on it.
//   SIM1  factory settings: 9600 bits/s, 8N1, TSIP
//   SIM2  4800 bits/s, no parity, streaming NMEA GGA, GLL and RMC every second
//   SIM3  38400 bits/s, odd parity, TSIP
//   SIM4  silent: hears and obeys but sends nothing
//   SIM5  rejects every port configuration
//   SIM6  factory settings, but refuses the identity queries as an older receiver does
#pragma once

#include <array>
#include <memory>
#include <string_view>

#include "link/serial_opener.h"
#include "sim/receiver_state.h"
#include "sim/virtual_receiver.h"

namespace kestrune {

struct Preset {
    ReceiverSettings settings;
    ReceiverBehaviour behaviour;
};

class SimulatedDevices {
  public:
    static constexpr int kPresetCount = 6;

    // The receivers run on a clock sped up by clockFactor (1.0: real time).
    explicit SimulatedDevices(double clockFactor = 1.0);
    SimulatedDevices(const SimulatedDevices&) = delete;
    SimulatedDevices& operator=(const SimulatedDevices&) = delete;

    // A port on the named preset; nothing for a name that is no preset or a device in use.
    OpenResult open(std::string_view name);
    // An opener for the link: SIMn names to these receivers, every other name to
    // devicesElsewhere. The devices must outlive every port it opens.
    PortOpener routePortNames(PortOpener devicesElsewhere = openSerialPort);
    // The preset receiver number 1 to kPresetCount; nothing for any other number.
    VirtualReceiver* receiver(int number);

    // True for SIM followed by digits, in any letter case, with an optional trailing ':'. Such
    // names belong to the virtual receivers even when no preset has that number.
    static bool isSimulatedName(std::string_view name);
    // The preset number a name stands for, or 0.
    static int presetNumber(std::string_view name);
    // How preset number 1 to kPresetCount starts (number outside: factory settings).
    static Preset preset(int number);

  private:
    std::array<std::unique_ptr<VirtualReceiver>, kPresetCount> receivers_;
};

}  // namespace kestrune
