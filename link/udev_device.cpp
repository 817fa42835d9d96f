#include "link/udev_device.h"

#include <libudev.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <filesystem>

#include <algorithm>
#include <string_view>
#include <system_error>

namespace kestrune {

namespace {

constexpr const char* kCharacterDevices = "/sys/dev/char/";
constexpr const char* kTerminalSubsystem = "tty";
constexpr const char* kUsbSubsystem = "usb";
constexpr const char* kUsbDeviceType = "usb_device";
// Newer kernels put a port and controller layer of their own between a UART and its driver;
// its drivers ("port", "ctrl") say nothing about the hardware.
constexpr std::string_view kSerialCoreBus = "serial-base";
constexpr char kLinkSeparator = ' ';
constexpr std::string_view kVirtualDevices = "/sys/devices/virtual/";

std::string textOf(const char* value) {
    return value == nullptr ? std::string{} : std::string(value);
}

}  // namespace

void UdevDeleter::operator()(udev* context) const {
    (void)udev_unref(context);
}
void UdevDeleter::operator()(udev_device* device) const {
    (void)udev_device_unref(device);
}

UdevContext newUdevContext() {
    return UdevContext(udev_new());
}

// The kernel links /sys/dev/char/MAJOR:MINOR to the device; following that link by hand, rather
// than from the number inside libudev, also works in a device test bed.
UdevDevice characterDevice(udev* context, dev_t number) {
    const std::string entry = std::string(kCharacterDevices) + std::to_string(major(number)) + ":" +
                              std::to_string(minor(number));
    std::array<char, PATH_MAX> target{};
    const ssize_t length = ::readlink(entry.c_str(), target.data(), target.size());
    if (context == nullptr || length <= 0 || static_cast<std::size_t>(length) >= target.size()) {
        return nullptr;
    }
    const std::filesystem::path syspath =
        (std::filesystem::path(kCharacterDevices) / std::string(target.data(), length))
            .lexically_normal();
    return deviceAt(context, syspath.string());
}

UdevDevice deviceAt(udev* context, const std::string& syspath) {
    return UdevDevice(context == nullptr ? nullptr
                                         : udev_device_new_from_syspath(context, syspath.c_str()));
}

std::string syspathOf(udev_device* device) {
    return textOf(udev_device_get_syspath(device));
}
std::string devnodeOf(udev_device* device) {
    return textOf(udev_device_get_devnode(device));
}
std::string subsystemOf(udev_device* device) {
    return textOf(udev_device_get_subsystem(device));
}
std::string attributeOf(udev_device* device, const char* name) {
    return device == nullptr ? std::string{} : textOf(udev_device_get_sysattr_value(device, name));
}
std::string propertyOf(udev_device* device, const char* name) {
    return device == nullptr ? std::string{} : textOf(udev_device_get_property_value(device, name));
}

// From udev's database, else from the DEVLINKS property a device event carries.
std::vector<std::string> devlinksOf(udev_device* device) {
    std::vector<std::string> links;
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_device_get_devlinks_list_entry(device)) {
        links.emplace_back(textOf(udev_list_entry_get_name(entry)));
    }
    const std::string property = links.empty() ? propertyOf(device, "DEVLINKS") : std::string{};
    std::string_view listed = property;
    while (!listed.empty()) {
        const std::size_t end = std::min(listed.find(kLinkSeparator), listed.size());
        if (end > 0) {
            links.emplace_back(listed.substr(0, end));
        }
        listed.remove_prefix(std::min(end + 1, listed.size()));
    }
    return links;
}

std::string parentDriverOf(udev_device* device) {
    for (udev_device* parent = udev_device_get_parent(device); parent != nullptr;
         parent = udev_device_get_parent(parent)) {
        const char* subsystem = udev_device_get_subsystem(parent);
        if (subsystem != nullptr && subsystem == kSerialCoreBus) {
            continue;
        }
        if (const char* driver = udev_device_get_driver(parent); driver != nullptr) {
            return driver;
        }
    }
    return {};
}

udev_device* usbParentOf(udev_device* device) {
    return udev_device_get_parent_with_subsystem_devtype(device, kUsbSubsystem, kUsbDeviceType);
}

bool hasHardwareParent(udev_device* device) {
    const std::string syspath = syspathOf(device);
    return udev_device_get_parent(device) != nullptr &&
           syspath.find(kVirtualDevices) == std::string::npos;
}

std::vector<std::string> terminalSyspaths(udev* context, std::string& failure) {
    std::vector<std::string> syspaths;
    if (context == nullptr) {
        failure = "udev could not be started: " + std::generic_category().message(errno);
        return syspaths;
    }
    std::unique_ptr<udev_enumerate, decltype(&udev_enumerate_unref)> scan(
        udev_enumerate_new(context), udev_enumerate_unref);
    const int matched = scan == nullptr
                            ? -ENOMEM
                            : udev_enumerate_add_match_subsystem(scan.get(), kTerminalSubsystem);
    const int scanned = matched < 0 ? matched : udev_enumerate_scan_devices(scan.get());
    if (scanned < 0) {
        failure =
            "udev could not scan the devices in /sys: " + std::generic_category().message(-scanned);
        return syspaths;
    }
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(scan.get())) {
        syspaths.emplace_back(textOf(udev_list_entry_get_name(entry)));
    }
    return syspaths;
}

}  // namespace kestrune
