#include "link/serial_device.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>

#include "link/udev_device.h"

namespace kestrune {

namespace {

namespace fs = std::filesystem;

// The subordinate sides of UNIX 98 pseudo-terminals have majors 136 to 143.
constexpr unsigned kFirstPtyMajor = 136;
constexpr unsigned kLastPtyMajor = 143;
constexpr const char* kTerminalSubsystem = "tty";
const fs::path kDeviceFolder = "/dev";
// As the kernel allows when it follows links itself.
constexpr int kMostLinks = 40;

}  // namespace

// A serial port is a tty whose device has a parent in the hardware tree; /dev/tty, the
// consoles, /dev/ptmx and the virtual consoles all live under /sys/devices/virtual.
DeviceKind deviceKindOf(dev_t number) {
    const unsigned major = ::major(number);
    if (major >= kFirstPtyMajor && major <= kLastPtyMajor) {
        return DeviceKind::PseudoTerminal;
    }
    const UdevContext context = newUdevContext();
    const UdevDevice device = characterDevice(context.get(), number);
    if (device == nullptr || subsystemOf(device.get()) != kTerminalSubsystem ||
        !hasHardwareParent(device.get())) {
        return DeviceKind::Other;
    }
    return DeviceKind::SerialPort;
}

bool underDeviceFolder(const std::string& path) {
    const fs::path given(path);
    if (!given.is_absolute()) {
        return false;
    }
    const fs::path relative = given.lexically_normal().lexically_relative(kDeviceFolder);
    return !relative.empty() && *relative.begin() != ".." && relative != ".";
}

// lstat and readlink rather than realpath, which device test beds cannot always redirect.
std::optional<std::string> resolveDeviceLinks(const std::string& path) {
    fs::path current = fs::path(path).lexically_normal();
    for (int followed = 0; followed <= kMostLinks; ++followed) {
        struct stat status {};
        if (::lstat(current.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
            return current.string();
        }
        std::error_code error;
        const fs::path target = fs::read_symlink(current, error);
        if (error) {
            return current.string();
        }
        current =
            (target.is_absolute() ? target : current.parent_path() / target).lexically_normal();
    }
    return std::nullopt;
}

}  // namespace kestrune
