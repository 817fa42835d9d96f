#include "link/serial_device.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <unistd.h>

#include <array>
#include <climits>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

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
constexpr std::array<int, 3> kStandardStreams{STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO};
// /proc/self/stat: the terminal's device number is the fifth field after the command name,
// which ends at the last ')'.
constexpr const char* kOwnStat = "/proc/self/stat";
constexpr int kFieldsBeforeTerminal = 4;

// The controlling terminal's device number, 0 for none.
dev_t controllingTerminal() {
    std::ifstream stat(kOwnStat);
    const std::string line((std::istreambuf_iterator<char>(stat)), {});
    const std::size_t nameEnd = line.rfind(')');
    if (nameEnd == std::string::npos) {
        return 0;
    }
    std::istringstream fields(line.substr(nameEnd + 1));
    std::string skipped;
    for (int field = 0; field < kFieldsBeforeTerminal; ++field) {
        fields >> skipped;
    }
    unsigned long long terminal = 0;
    fields >> terminal;
    return static_cast<dev_t>(terminal);
}

// The terminal the user runs the program from (a standard stream that is a terminal, or the
// controlling terminal), reached through /dev/stdin, /dev/fd/1 or its device name, is no receiver:
// probing it would write queries and changes of speed into the user's own session, be it a
// pseudo-terminal or the serial console of a board.
bool isOwnTerminal(dev_t number) {
    for (const int stream : kStandardStreams) {
        struct stat status {};
        if (::isatty(stream) == 1 && ::fstat(stream, &status) == 0 && status.st_rdev == number) {
            return true;
        }
    }
    return controllingTerminal() == number;
}

}  // namespace

// A serial port is a tty whose device has a parent in the hardware tree; /dev/tty, the
// consoles, /dev/ptmx and the virtual consoles all live under /sys/devices/virtual.
DeviceKind deviceKindOf(dev_t number) {
    if (isOwnTerminal(number)) {
        return DeviceKind::OwnTerminal;
    }
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

bool usableKind(DeviceKind kind) {
    return kind == DeviceKind::SerialPort || kind == DeviceKind::PseudoTerminal;
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
