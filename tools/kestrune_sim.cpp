// kestrune-sim: the built-in virtual receiver served on a pseudo-terminal, so the program (or
// any serial tool, or gpsd) can be tried without hardware. Prints the device to open and the port
// name to store for it, then a line whenever the receiver's port settings change, and serves
// until SIGINT, SIGTERM or SIGHUP, or until whatever reads those lines goes away.
#include <pthread.h>

#include <csignal>
#include <cstdio>
#include <ctime>
#include <string>

#include "sim/pty_receiver.h"
#include "sim/virtual_receiver.h"
#include "tools/sim_options.h"

namespace {

using namespace kestrune;

constexpr int kStartError = 1;
// How often the receiver's settings are looked at for a change to print.
constexpr std::timespec kSettingsPoll{0, 200'000'000};

// Writes a line to stdout at once; false once the output is closed.
bool printLine(const std::string& text) {
    return std::printf("%s\n", text.c_str()) >= 0 && std::fflush(stdout) == 0;
}

// Waits for a stop signal, printing the receiver's settings each time they change. A closed
// output ends the wait too: nobody is left to tell.
void serveUntilStopped(const VirtualReceiver& receiver, const sigset_t& stopSignals) {
    ReceiverSettings shown = receiver.settings();
    while (sigtimedwait(&stopSignals, nullptr, &kSettingsPoll) < 0) {
        const ReceiverSettings now = receiver.settings();
        if ((now.line != shown.line || now.output != shown.output) &&
            !printLine("settings " + describeSettings(now))) {
            return;
        }
        shown = now;
    }
}

}  // namespace

int main(int argc, char** argv) {
    const CommandLine commandLine = parseCommandLine(argc, argv);
    if (!commandLine.options) {
        return commandLine.exitStatus;
    }
    const SimOptions& options = *commandLine.options;
    // Blocked before any thread starts, so every thread inherits the mask and the signals wait
    // for sigtimedwait below instead of killing the process mid-write.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    // A write to a closed output fails rather than ending the process.
    std::signal(SIGPIPE, SIG_IGN);

    VirtualReceiver receiver(options.settings, options.behaviour, options.speed);
    const std::unique_ptr<PtyReceiver> server = PtyReceiver::start(receiver);
    if (!server) {
        std::fputs("kestrune-sim: cannot open a pseudo-terminal\n", stderr);
        return kStartError;
    }
    const std::string portName = server->portName();
    if (portName.empty()) {
        std::fprintf(stderr,
                     "kestrune-sim: %s has no port name of five characters or fewer; the "
                     "program cannot be pointed at it. Close other terminals and try again.\n",
                     server->slavePath().c_str());
    }
    if (printLine(server->slavePath()) && printLine(portName)) {
        serveUntilStopped(receiver, stopSignals);
    }
    server->stop();
    return 0;
}
