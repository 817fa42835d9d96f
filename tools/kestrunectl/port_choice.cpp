#include "tools/kestrunectl/port_choice.h"

#include <filesystem>

#include "link/port_names.h"
#include "tools/kestrunectl/settings_file.h"

namespace kestrune::ctl {

namespace {

namespace fs = std::filesystem;

constexpr char kPathStart = '/';
const fs::path kDeviceFolder = "/dev";

bool underDeviceFolder(const fs::path& path) {
    const fs::path relative = path.lexically_normal().lexically_relative(kDeviceFolder);
    return !relative.empty() && *relative.begin() != ".." && relative != ".";
}

PortChoice fromStoredName(const std::string& name) {
    const std::string path = portDevicePath(name);
    std::error_code error;
    const fs::path device = path.empty() ? fs::path{} : fs::weakly_canonical(path, error);
    return PortChoice{name, path.empty() ? name : path, error ? path : device.string()};
}

std::optional<PortChoice> fromPath(const std::string& path, std::string& problem) {
    if (!underDeviceFolder(path)) {
        problem = path + " is not under /dev; name a terminal device there or a port name";
        return std::nullopt;
    }
    std::error_code error;
    const fs::path target = fs::canonical(path, error);
    if (error) {
        // Nothing there: the open says so, as for a stored name.
        return PortChoice{path, path, path};
    }
    if (!underDeviceFolder(target)) {
        problem = path + " leads to " + target.string() + ", outside /dev";
        return std::nullopt;
    }
    return PortChoice{target.string(), path, target.string()};
}

}  // namespace

std::optional<PortChoice> choosePort(const std::optional<std::string>& argument,
                                     std::string& problem) {
    if (!argument) {
        return fromStoredName(storedPortName(settingsFilePath()));
    }
    if (!argument->empty() && argument->front() == kPathStart) {
        return fromPath(*argument, problem);
    }
    if (!parsePortName(*argument)) {
        problem = "'" + *argument +
                  "' is not a port name (COM3:, USB0, SIM2, PTS4) or a device path under /dev";
        return std::nullopt;
    }
    return fromStoredName(*argument);
}

OpenResult openPathOrName(std::string_view name) {
    if (!name.empty() && name.front() == kPathStart) {
        return openSerialDevice(std::string(name));
    }
    return openSerialPort(name);
}

}  // namespace kestrune::ctl
