#include "tools/kestrunectl/port_choice.h"

#include "link/port_names.h"
#include "link/serial_device.h"
#include "tools/kestrunectl/settings_file.h"

namespace kestrune::ctl {

namespace {

PortChoice fromStoredName(const std::string& name) {
    const std::string path = portDevicePath(name);
    return PortChoice{name, path.empty() ? name : path, path};
}

std::optional<PortChoice> fromPath(const std::string& path, std::string& problem) {
    if (!underDeviceFolder(path) || path.size() > kMaxPortPath) {
        problem = path + " is not under /dev; name a terminal device there or a port name";
        return std::nullopt;
    }
    const std::optional<std::string> target = resolveDeviceLinks(path);
    if (!target || !underDeviceFolder(*target)) {
        problem = path + " leads to " + target.value_or("a loop of links") + ", outside /dev";
        return std::nullopt;
    }
    return PortChoice{*target, path, *target};
}

}  // namespace

std::optional<PortChoice> choosePort(const std::optional<std::string>& argument,
                                     std::string& problem) {
    if (!argument) {
        return fromStoredName(storedPortName(settingsFilePath()));
    }
    if (isDevicePath(*argument)) {
        return fromPath(*argument, problem);
    }
    if (!parsePortName(*argument)) {
        problem = "'" + *argument +
                  "' is not a port name (COM3:, USB0, SIM2, PTS4) or a device path under /dev";
        return std::nullopt;
    }
    return fromStoredName(*argument);
}

}  // namespace kestrune::ctl
