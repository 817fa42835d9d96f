// The declared configuration: which receiver gets which settings, read from a TOML file.
//   [receiver.roof]                        [default]
//   by-id = "/dev/serial/by-id/usb-..."    baud = 9600
//   baud = 38400                           format = "tsip"
//   sentences = ["GGA", "ZDA"]
//   save = true
// A file is taken whole or not at all: one fault anywhere refuses it, so no receiver is set up
// from half a file.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "tools/kestrunectl/set_request.h"

namespace kestrune::ctl {

inline constexpr const char* kReceiversFile = "/etc/kestrune/receivers.toml";

// How a table names its receiver.
enum class MatchKey {
    ById,       // a link under /dev/serial/by-id/
    Device,     // a device path under /dev, links included
    UsbSerial,  // the USB device's serial number
};

struct DeclaredReceiver {
    // "receiver.roof", or "default".
    std::string name;
    std::size_t line = 0;
    // Nothing for the default table.
    std::optional<MatchKey> key;
    std::string value;
    // What is not given is kept as the receiver has it.
    SetRequest wanted;
    bool save = false;
};

struct ReceiversFile {
    std::string path;
    std::vector<DeclaredReceiver> receivers;
    std::optional<DeclaredReceiver> fallback;
};

// The file, or nothing with problem set to "path:line: what is wrong".
std::optional<ReceiversFile> readReceiversFile(const std::string& path, std::string& problem);

}  // namespace kestrune::ctl
