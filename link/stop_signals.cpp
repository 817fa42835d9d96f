#include "link/stop_signals.h"

#include <array>

namespace kestrune {

namespace {

constexpr std::array kNamedStopSignals{
    SIGHUP,    SIGINT,  SIGQUIT, SIGUSR1,   SIGUSR2, SIGPIPE, SIGALRM, SIGTERM,
    SIGSTKFLT, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO,   SIGPWR,
};

}  // namespace

sigset_t stopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal : kNamedStopSignals) {
        sigaddset(&signals, signal);
    }
    // Real-time signals end a process too; SIGRTMIN and SIGRTMAX are only known at run time.
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) {
        sigaddset(&signals, signal);
    }
    return signals;
}

}  // namespace kestrune
