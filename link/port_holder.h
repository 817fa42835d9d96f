// Who holds a busy port: the process with the device open, found through /proc/*/fd.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace kestrune {

struct PortHolder {
    std::string name;  // the process's command name, as /proc/PID/comm has it
    pid_t pid = 0;
};

// The first other process with the device open. The device is the one the path leads to: a
// by-id link, or a node a test bed redirects, names the same holder as the node itself. Nothing
// when none can be seen (processes of other users hide their descriptors).
std::optional<PortHolder> findPortHolder(const std::string& device);
// "gpsd (pid 812)"; "another program" when the holder cannot be seen, as no pid is known then.
std::string holderText(const std::optional<PortHolder>& holder);
// The holder of each device, looking through the processes once.
std::vector<std::optional<PortHolder>> findPortHolders(const std::vector<std::string>& devices);

}  // namespace kestrune
