// Who holds a busy port: the process with the device open, found through /proc/*/fd.
#pragma once

#include <sys/types.h>
#include <optional>
#include <string>

namespace kestrune::ctl {

struct PortHolder {
    std::string name;  // the process's command name, as /proc/PID/comm has it
    pid_t pid = 0;
};

// The first other process with device open; nothing when none can be seen (processes of other
// users hide their descriptors).
std::optional<PortHolder> findPortHolder(const std::string& device);

}  // namespace kestrune::ctl
