// Plugging and unplugging of terminal devices, from udev. The owner watches fd() (a window on its
// event loop) and calls drain() when it is readable.
#pragma once

#include <memory>

#include "link/udev_device.h"

struct udev_monitor;

namespace kestrune {

class DeviceMonitor {
  public:
    // Nothing when udev gives no monitor (no netlink, or a sandbox without it).
    static std::unique_ptr<DeviceMonitor> start();
    ~DeviceMonitor();
    DeviceMonitor(const DeviceMonitor&) = delete;
    DeviceMonitor& operator=(const DeviceMonitor&) = delete;

    // Readable when a change is waiting.
    int fd() const;
    // Takes every waiting change; true when at least one terminal device came or went.
    bool drain();

  private:
    DeviceMonitor(UdevContext context, udev_monitor* monitor);

    UdevContext context_;
    udev_monitor* monitor_;
};

}  // namespace kestrune
