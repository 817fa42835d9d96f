// The machine's serial ports, as udev knows them: USB adapters, CDC-ACM devices and on-board
// UARTs, each with what a person needs to tell it apart and whether the program may use it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "link/port_holder.h"

namespace kestrune {

struct ListedPort {
    std::string device;                // /dev/ttyUSB0
    std::vector<std::string> aliases;  // /dev/serial/by-id/..., /dev/serial/by-path/...
    std::string storeName;             // USB0, COM1, ...; empty when it has none
    std::string driver;
    // For USB devices; empty otherwise.
    std::string vendorId, productId, manufacturer, product, serial;
    // A legacy ttyS port for which the kernel found no UART.
    bool noUart = false;
    // This user may open it for reading and writing.
    bool accessible = false;
    std::optional<PortHolder> holder;

    // The stable name to store: the by-id link of a USB device, else the device.
    std::string stableName() const;
    // What it is, for a person: the product, else the driver.
    std::string description() const;
};

enum class PortScope {
    Usable,  // leaves out legacy ports with no UART
    All,
};

struct PortListing {
    // Sorted by device path.
    std::vector<ListedPort> ports;
    // Why the device list could not be read; empty when it was (even with no port on it).
    std::string failure;
};

PortListing listSerialPorts(PortScope scope = PortScope::Usable);

// The listed port a path leads to (the device or one of its aliases); nothing when none does.
std::optional<ListedPort> findListedPort(const std::vector<ListedPort>& ports,
                                         const std::string& path);

}  // namespace kestrune
