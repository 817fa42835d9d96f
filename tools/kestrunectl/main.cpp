// kestrunectl: finds, shows, sets up, resets and watches a TSIP receiver from the command line,
// on the same link and procedures as the window. See kestrunectl --help and the README.
#include <cstdio>

#include "tools/kestrunectl/all_ports.h"
#include "tools/kestrunectl/apply_command.h"
#include "tools/kestrunectl/command_line.h"
#include "tools/kestrunectl/exit_status.h"
#include "tools/kestrunectl/interrupt_watcher.h"
#include "tools/kestrunectl/port_choice.h"
#include "tools/kestrunectl/port_listing.h"
#include "tools/kestrunectl/session.h"

int main(int argc, char** argv) {
    using namespace kestrune::ctl;
    // Before anything starts a thread (the virtual receivers, the link's reader).
    blockStopSignals();
    Invocation invocation;
    if (const std::optional<int> done = parseCommandLine(argc, argv, invocation)) {
        return *done;
    }
    if (invocation.command == Command::Ports) {
        return runPorts(invocation.allPorts, invocation.json);
    }
    if (invocation.command == Command::Apply) {
        return runApply(invocation);
    }
    if (invocation.allPorts) {
        return runAllPorts(invocation);
    }
    std::string problem;
    const std::optional<PortChoice> port = choosePort(invocation.port, problem);
    if (!port) {
        std::fprintf(stderr, "kestrunectl: -p: %s; see kestrunectl --help\n", problem.c_str());
        return kExitUsage;
    }
    return runCommand(invocation, *port);
}
