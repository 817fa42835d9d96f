#include "link/port_list.h"

#include <unistd.h>

#include <algorithm>
#include <string_view>

#include "link/port_names.h"
#include "link/serial_device.h"
#include "link/udev_device.h"

namespace kestrune {

namespace {

constexpr std::string_view kLegacySerial = "/dev/ttyS";
// The kernel's PORT_UNKNOWN: no UART answered at the port's address.
constexpr std::string_view kUnknownUart = "0";
constexpr std::string_view kByIdFolder = "/dev/serial/by-id/";

ListedPort describe(udev_device* device) {
    ListedPort port;
    port.device = devnodeOf(device);
    port.aliases = devlinksOf(device);
    std::sort(port.aliases.begin(), port.aliases.end());
    port.storeName = storeNameOf(port.device);
    port.driver = parentDriverOf(device);
    if (udev_device* usb = usbParentOf(device); usb != nullptr) {
        port.vendorId = attributeOf(usb, "idVendor");
        port.productId = attributeOf(usb, "idProduct");
        port.manufacturer = attributeOf(usb, "manufacturer");
        port.product = attributeOf(usb, "product");
        port.serial = attributeOf(usb, "serial");
    }
    port.noUart =
        port.device.starts_with(kLegacySerial) && attributeOf(device, "type") == kUnknownUart;
    port.accessible = ::access(port.device.c_str(), R_OK | W_OK) == 0;
    return port;
}

}  // namespace

std::string ListedPort::stableName() const {
    const auto byId = std::find_if(aliases.begin(), aliases.end(), [](const std::string& alias) {
        return alias.starts_with(kByIdFolder);
    });
    return byId != aliases.end() && !vendorId.empty() ? *byId : device;
}

std::string ListedPort::description() const {
    return product.empty() ? driver : product;
}

PortListing listSerialPorts(PortScope scope) {
    PortListing listing;
    std::vector<ListedPort>& ports = listing.ports;
    const UdevContext context = newUdevContext();
    for (const std::string& syspath : terminalSyspaths(context.get(), listing.failure)) {
        const UdevDevice device = deviceAt(context.get(), syspath);
        if (device == nullptr || devnodeOf(device.get()).empty() ||
            !hasHardwareParent(device.get())) {
            continue;
        }
        ListedPort port = describe(device.get());
        if (!port.noUart || scope == PortScope::All) {
            ports.push_back(std::move(port));
        }
    }
    std::sort(ports.begin(), ports.end(),
              [](const ListedPort& a, const ListedPort& b) { return a.device < b.device; });
    std::vector<std::string> devices;
    for (const ListedPort& port : ports) {
        devices.push_back(port.device);
    }
    const std::vector<std::optional<PortHolder>> holders = findPortHolders(devices);
    for (std::size_t i = 0; i < ports.size(); ++i) {
        ports[i].holder = holders[i];
    }
    return listing;
}

std::optional<ListedPort> findListedPort(const std::vector<ListedPort>& ports,
                                         const std::string& path) {
    const std::string resolved = resolveDeviceLinks(path).value_or(path);
    for (const ListedPort& port : ports) {
        if (port.device == resolved || port.device == path ||
            std::find(port.aliases.begin(), port.aliases.end(), path) != port.aliases.end()) {
            return port;
        }
    }
    return std::nullopt;
}

}  // namespace kestrune
