#include "link/port_holder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <charconv>
#include <climits>
#include <filesystem>
#include <fstream>

namespace kestrune {

namespace {

namespace fs = std::filesystem;

const fs::path kProcesses = "/proc";
constexpr const char* kDescriptors = "fd";
constexpr const char* kCommandName = "comm";
// As the kernel allows when it follows links itself.
constexpr int kMostLinks = 40;

// readlink itself: std::filesystem asks lstat first, which a device test bed does not redirect
// for its nodes.
std::optional<fs::path> linkTarget(const fs::path& path) {
    std::array<char, PATH_MAX> target{};
    const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
    if (length < 0 || static_cast<std::size_t>(length) >= target.size()) {
        return std::nullopt;
    }
    return fs::path(std::string(target.data(), static_cast<std::size_t>(length)));
}

// What an open descriptor of the device looks like from /proc: the path it leads to once every
// link is followed, and its device number.
struct DeviceIdentity {
    fs::path path;
    std::optional<dev_t> number;

    bool matches(const fs::path& descriptor) const {
        if (linkTarget(descriptor) == path) {
            return true;
        }
        struct stat status {};
        return number && ::stat(descriptor.c_str(), &status) == 0 && S_ISCHR(status.st_mode) &&
               status.st_rdev == *number;
    }
};

DeviceIdentity identityOf(const std::string& device) {
    fs::path current = fs::path(device).lexically_normal();
    for (int followed = 0; followed < kMostLinks; ++followed) {
        const std::optional<fs::path> target = linkTarget(current);
        if (!target) {
            break;
        }
        current =
            (target->is_absolute() ? *target : current.parent_path() / *target).lexically_normal();
    }
    struct stat status {};
    const bool character = ::stat(device.c_str(), &status) == 0 && S_ISCHR(status.st_mode);
    return DeviceIdentity{current, character ? std::optional<dev_t>(status.st_rdev) : std::nullopt};
}

std::optional<pid_t> processId(const fs::path& entry) {
    const std::string name = entry.filename().string();
    pid_t pid = 0;
    const auto [end, failure] = std::from_chars(name.data(), name.data() + name.size(), pid);
    if (name.empty() || failure != std::errc() || end != name.data() + name.size()) {
        return std::nullopt;
    }
    return pid;
}

bool holds(const fs::path& process, const DeviceIdentity& device) {
    std::error_code error;
    for (fs::directory_iterator fd(process / kDescriptors, error), end; !error && fd != end;
         fd.increment(error)) {
        if (device.matches(fd->path())) {
            return true;
        }
    }
    return false;
}

std::string commandName(const fs::path& process) {
    std::ifstream file(process / kCommandName);
    std::string name;
    std::getline(file, name);
    return name;
}

}  // namespace

std::optional<PortHolder> findPortHolder(const std::string& device) {
    if (device.empty()) {
        return std::nullopt;
    }
    const DeviceIdentity identity = identityOf(device);
    const pid_t self = ::getpid();
    std::error_code error;
    for (fs::directory_iterator entry(kProcesses, error), end; !error && entry != end;
         entry.increment(error)) {
        const std::optional<pid_t> pid = processId(entry->path());
        if (pid && *pid != self && holds(entry->path(), identity)) {
            return PortHolder{commandName(entry->path()), *pid};
        }
    }
    return std::nullopt;
}

}  // namespace kestrune
