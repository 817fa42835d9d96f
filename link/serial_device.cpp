#include "link/serial_device.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <unistd.h>

#include <array>
#include <climits>
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

std::optional<std::string> readLink(const std::string& path) {
    std::array<char, PATH_MAX> target{};
    const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
    if (length < 0 || static_cast<std::size_t>(length) >= target.size()) {
        return std::nullopt;
    }
    return std::string(target.data(), static_cast<std::size_t>(length));
}

// readlink rather than realpath, which device test beds cannot always redirect.
std::optional<std::string> followLinks(const std::string& path, LinkRule rule) {
    fs::path current = fs::path(path).lexically_normal();
    for (int followed = 0; followed <= kMostLinks; ++followed) {
        struct stat status {};
        const bool link = rule == LinkRule::EveryLinkReadlinkGives ||
                          (::lstat(current.c_str(), &status) == 0 && S_ISLNK(status.st_mode));
        const std::optional<std::string> target = link ? readLink(current) : std::nullopt;
        if (!target) {
            return current.string();
        }
        const fs::path next(*target);
        current = (next.is_absolute() ? next : current.parent_path() / next).lexically_normal();
    }
    return std::nullopt;
}

std::optional<std::string> resolveDeviceLinks(const std::string& path) {
    return followLinks(path, LinkRule::LinksLstatSees);
}

}  // namespace kestrune
