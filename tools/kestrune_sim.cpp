// kestrune-sim: the built-in virtual receiver served on a pseudo-terminal, so the program (or
// any serial tool, or gpsd) can be tried without hardware. Prints the device to open and the port
// name to store for it, then a line whenever the receiver's port settings change, and serves
// until SIGINT, SIGTERM or SIGHUP, or until whatever reads those lines goes away. SIGUSR1 is a
// power cycle: the receiver comes back with its saved configuration.
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

// Waits for a stop signal, printing the receiver's settings each time they change, and power-
// cycling it on SIGUSR1. A closed output ends the wait too: nobody is left to tell.
void serveUntilStopped(VirtualReceiver& receiver, const sigset_t& signals) {
    ReceiverSettings shown = receiver.settings();
    for (;;) {
        const int signal = sigtimedwait(&signals, nullptr, &kSettingsPoll);
        if (signal == SIGUSR1) {
            receiver.powerCycle();
            if (!printLine("power cycle")) {
                return;
            }
        } else if (signal >= 0) {
            return;
        }
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
    sigset_t handled;
    sigemptyset(&handled);
    sigaddset(&handled, SIGINT);
    sigaddset(&handled, SIGTERM);
    sigaddset(&handled, SIGHUP);
    sigaddset(&handled, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &handled, nullptr);
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
        serveUntilStopped(receiver, handled);
    }
    server->stop();
    return 0;
}
