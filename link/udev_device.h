// Small owners of libudev handles, and the few questions the port code asks of a device. All
// libudev use of the program stays in link/.
#pragma once

#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

struct udev;
struct udev_device;

namespace kestrune {

struct UdevDeleter {
    void operator()(udev* context) const;
    void operator()(udev_device* device) const;
};
using UdevContext = std::unique_ptr<udev, UdevDeleter>;
using UdevDevice = std::unique_ptr<udev_device, UdevDeleter>;

UdevContext newUdevContext();
// The character device with that number; nothing when udev does not know it.
UdevDevice characterDevice(udev* context, dev_t number);
UdevDevice deviceAt(udev* context, const std::string& syspath);

// Empty for anything the device does not have.
std::string syspathOf(udev_device* device);
std::string devnodeOf(udev_device* device);
std::string subsystemOf(udev_device* device);
std::string attributeOf(udev_device* device, const char* name);
std::string propertyOf(udev_device* device, const char* name);
std::vector<std::string> devlinksOf(udev_device* device);
// The driver of the nearest parent that has one.
std::string parentDriverOf(udev_device* device);
// The USB device above, if any (not owned: it lives as long as device).
udev_device* usbParentOf(udev_device* device);
// True for a device with a parent that is not under /sys/devices/virtual: real hardware.
bool hasHardwareParent(udev_device* device);

// The syspaths of every device of the tty class; when udev cannot give them, none, and failure
// says why.
std::vector<std::string> terminalSyspaths(udev* context, std::string& failure);

}  // namespace kestrune
