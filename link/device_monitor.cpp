#include "link/device_monitor.h"

#include <libudev.h>

namespace kestrune {

namespace {

constexpr const char* kUdevEvents = "udev";
constexpr const char* kTerminalSubsystem = "tty";

}  // namespace

std::unique_ptr<DeviceMonitor> DeviceMonitor::start() {
    UdevContext context = newUdevContext();
    udev_monitor* monitor =
        context == nullptr ? nullptr : udev_monitor_new_from_netlink(context.get(), kUdevEvents);
    if (monitor == nullptr) {
        return nullptr;
    }
    if (udev_monitor_filter_add_match_subsystem_devtype(monitor, kTerminalSubsystem, nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor) < 0) {
        (void)udev_monitor_unref(monitor);
        return nullptr;
    }
    return std::unique_ptr<DeviceMonitor>(new DeviceMonitor(std::move(context), monitor));
}

DeviceMonitor::DeviceMonitor(UdevContext context, udev_monitor* monitor)
    : context_(std::move(context)), monitor_(monitor) {}

DeviceMonitor::~DeviceMonitor() {
    (void)udev_monitor_unref(monitor_);
}

int DeviceMonitor::fd() const {
    return udev_monitor_get_fd(monitor_);
}

// The monitor's socket is non-blocking: receiving stops when nothing is left.
bool DeviceMonitor::drain() {
    bool changed = false;
    while (udev_device* device = udev_monitor_receive_device(monitor_)) {
        changed = true;
        (void)udev_device_unref(device);
    }
    return changed;
}

}  // namespace kestrune
