// What the user asked for, read from the command line with CLI11.
#pragma once

#include <optional>
#include <string>

#include "link/gpsd_control.h"
#include "protocol/receiver_settings.h"
#include "tools/kestrunectl/set_request.h"

namespace kestrune::ctl {

enum class Command { Find, Show, Set, Save, Reset, Watch, Ports, Apply };

struct Invocation {
    Command command = Command::Find;
    // -p as given; nothing means the port named in the settings file.
    std::optional<std::string> port;
    bool json = false;
    // find and show on every listed port at once; ports also lists legacy ports with no UART.
    bool allPorts = false;
    // find --all and show --all: the full pass on ports that stayed silent too.
    bool thorough = false;
    bool quiet = false;
    // A port gpsd holds is borrowed through this control socket; noGpsd reports the holder
    // and stops instead.
    std::string gpsdSocket = kGpsdControlSocket;
    bool noGpsd = false;
    SetRequest set;
    // set --save: keep the new configuration through power-off once it is verified.
    bool save = false;
    // watch --baud --parity: listen there without sending a byte.
    std::optional<LineSettings> listenAt;
    // apply: the declared configuration (nothing: the file in /etc), the one device to apply to
    // (nothing: every listed port, --all), and whether to send nothing.
    std::optional<std::string> configFile;
    std::optional<std::string> device;
    bool dryRun = false;
    // Hidden, for tests: shrinks the link's timing and the virtual receivers' clock together.
    double timeScale = 1.0;
};

// Reads the command line into invocation. Returns the exit status when the program is done
// already: help or version printed (0), or a usage error reported on stderr (2).
std::optional<int> parseCommandLine(int argc, char** argv, Invocation& invocation);

}  // namespace kestrune::ctl
