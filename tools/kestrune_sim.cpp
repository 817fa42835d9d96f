// kestrune-sim: the built-in virtual receiver served on a pseudo-terminal, so the program (or
// any serial tool, or gpsd) can be tried without hardware. Prints the device to open and the port
// name to store for it, then a line whenever the receiver's port settings change, and serves
// until SIGINT or SIGTERM.
#include <pthread.h>

#include <csignal>
#include <cstdio>
#include <ctime>

#include "sim/pty_receiver.h"
#include "sim/virtual_receiver.h"
#include "tools/sim_options.h"

namespace {

using namespace kestrune;

constexpr int kStartError = 1;
// How often the receiver's settings are looked at for a change to print.
constexpr std::timespec kSettingsPoll{0, 200'000'000};

// Waits for SIGINT or SIGTERM, printing the receiver's settings each time they change.
void serveUntilStopped(const VirtualReceiver& receiver, const sigset_t& stopSignals) {
    ReceiverSettings shown = receiver.settings();
    while (sigtimedwait(&stopSignals, nullptr, &kSettingsPoll) < 0) {
        const ReceiverSettings now = receiver.settings();
        if (now.line != shown.line || now.output != shown.output) {
            std::printf("settings %s\n", describeSettings(now).c_str());
            std::fflush(stdout);
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
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

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
    std::printf("%s\n%s\n", server->slavePath().c_str(), portName.c_str());
    std::fflush(stdout);

    serveUntilStopped(receiver, stopSignals);
    server->stop();
    return 0;
}
