#include "tools/kestrunectl/apply_plan.h"

#include <algorithm>

#include "link/serial_device.h"

namespace kestrune::ctl {

namespace {

// A path names the port when it is the device, one of its links, or leads to the device.
bool pathNames(const std::string& path, const ListedPort& port) {
    return path == port.device ||
           std::find(port.aliases.begin(), port.aliases.end(), path) != port.aliases.end() ||
           resolveDeviceLinks(path).value_or(path) == port.device;
}

}  // namespace

bool tableMatches(const DeclaredReceiver& table, const ListedPort& port) {
    if (!table.key) {
        return false;
    }
    if (*table.key == MatchKey::UsbSerial) {
        return !port.serial.empty() && port.serial == table.value;
    }
    return pathNames(table.value, port);
}

std::optional<ApplyTarget> targetFor(const ReceiversFile& file, const ListedPort& port,
                                     std::string& problem) {
    const DeclaredReceiver* found = nullptr;
    for (const DeclaredReceiver& table : file.receivers) {
        if (!tableMatches(table, port)) {
            continue;
        }
        if (found != nullptr) {
            problem = file.path + ":" + std::to_string(table.line) + ": [" + table.name +
                      "] and [" + found->name + "] on line " + std::to_string(found->line) +
                      " both match " + port.device;
            return std::nullopt;
        }
        found = &table;
    }
    if (found != nullptr) {
        return ApplyTarget{port, *found, false};
    }
    if (file.fallback) {
        return ApplyTarget{port, *file.fallback, true};
    }
    return std::nullopt;
}

std::optional<std::vector<ApplyTarget>> planTargets(const ReceiversFile& file,
                                                    const std::vector<ListedPort>& ports,
                                                    std::string& problem) {
    std::vector<ApplyTarget> targets;
    for (const ListedPort& port : ports) {
        if (std::optional<ApplyTarget> target = targetFor(file, port, problem)) {
            targets.push_back(std::move(*target));
        } else if (!problem.empty()) {
            return std::nullopt;
        }
    }
    return targets;
}

}  // namespace kestrune::ctl
