#include "link/port_holder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <vector>

#include "link/serial_device.h"

namespace kestrune {

namespace {

namespace fs = std::filesystem;

const fs::path kProcesses = "/proc";
constexpr const char* kDescriptors = "fd";
constexpr const char* kCommandName = "comm";
constexpr std::string_view kDeviceFolder = "/dev/";

// What an open descriptor of the device looks like from /proc: the path it leads to once every
// link is followed, and its device number.
struct DeviceIdentity {
    fs::path path;
    std::optional<dev_t> number;

    bool matches(const fs::path& target, std::optional<dev_t> targetNumber) const {
        return (!path.empty() && target == path) || (number && targetNumber == number);
    }
};

DeviceIdentity identityOf(const std::string& device) {
    const fs::path resolved =
        followLinks(device, LinkRule::EveryLinkReadlinkGives).value_or(device);
    struct stat status {};
    const bool character = ::stat(device.c_str(), &status) == 0 && S_ISCHR(status.st_mode);
    return DeviceIdentity{resolved,
                          character ? std::optional<dev_t>(status.st_rdev) : std::nullopt};
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

std::string commandName(const fs::path& process) {
    std::ifstream file(process / kCommandName);
    std::string name;
    std::getline(file, name);
    return name;
}

// Only descriptors of devices can hold a port: sockets, pipes and files are passed over unread.
std::optional<dev_t> characterNumber(const fs::path& descriptor, const fs::path& target) {
    struct stat status {};
    if (!target.string().starts_with(kDeviceFolder) || ::stat(descriptor.c_str(), &status) != 0 ||
        !S_ISCHR(status.st_mode)) {
        return std::nullopt;
    }
    return status.st_rdev;
}

// Marks every device the process has open that has no holder yet.
void noteHolder(const fs::path& process, pid_t pid, const std::vector<DeviceIdentity>& devices,
                std::vector<std::optional<PortHolder>>& holders) {
    std::error_code error;
    for (fs::directory_iterator fd(process / kDescriptors, error), end; !error && fd != end;
         fd.increment(error)) {
        const std::optional<std::string> link = readLink(fd->path());
        if (!link) {
            continue;
        }
        const fs::path target(*link);
        const std::optional<dev_t> number = characterNumber(fd->path(), target);
        for (std::size_t i = 0; i < devices.size(); ++i) {
            if (!holders[i] && devices[i].matches(target, number)) {
                holders[i] = PortHolder{commandName(process), pid};
            }
        }
    }
}

}  // namespace

std::string holderText(const std::optional<PortHolder>& holder) {
    return holder ? holder->name + " (pid " + std::to_string(holder->pid) + ")"
                  : std::string("another program");
}

std::optional<PortHolder> findPortHolder(const std::string& device) {
    return findPortHolders({device}).front();
}

std::vector<std::optional<PortHolder>> findPortHolders(const std::vector<std::string>& devices) {
    std::vector<DeviceIdentity> identities;
    for (const std::string& device : devices) {
        identities.push_back(device.empty() ? DeviceIdentity{} : identityOf(device));
    }
    std::vector<std::optional<PortHolder>> holders(devices.size());
    const pid_t self = ::getpid();
    std::error_code error;
    for (fs::directory_iterator entry(kProcesses, error), end; !error && entry != end;
         entry.increment(error)) {
        const std::optional<pid_t> pid = processId(entry->path());
        if (pid && *pid != self) {
            noteHolder(entry->path(), *pid, identities, holders);
        }
    }
    return holders;
}

}  // namespace kestrune
