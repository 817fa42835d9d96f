#include "tools/kestrunectl/port_holder.h"

#include <unistd.h>

#include <charconv>
#include <filesystem>
#include <fstream>

namespace kestrune::ctl {

namespace {

namespace fs = std::filesystem;

const fs::path kProcesses = "/proc";
constexpr const char* kDescriptors = "fd";
constexpr const char* kCommandName = "comm";

std::optional<pid_t> processId(const fs::path& entry) {
    const std::string name = entry.filename().string();
    pid_t pid = 0;
    const auto [end, failure] = std::from_chars(name.data(), name.data() + name.size(), pid);
    if (name.empty() || failure != std::errc() || end != name.data() + name.size()) {
        return std::nullopt;
    }
    return pid;
}

bool holds(const fs::path& process, const fs::path& device) {
    std::error_code error;
    for (fs::directory_iterator fd(process / kDescriptors, error), end; !error && fd != end;
         fd.increment(error)) {
        std::error_code readError;
        if (fs::read_symlink(fd->path(), readError) == device && !readError) {
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
    const pid_t self = ::getpid();
    std::error_code error;
    for (fs::directory_iterator entry(kProcesses, error), end; !error && entry != end;
         entry.increment(error)) {
        const std::optional<pid_t> pid = processId(entry->path());
        if (pid && *pid != self && holds(entry->path(), device)) {
            return PortHolder{commandName(entry->path()), *pid};
        }
    }
    return std::nullopt;
}

}  // namespace kestrune::ctl
