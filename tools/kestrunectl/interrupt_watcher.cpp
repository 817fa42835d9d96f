#include "tools/kestrunectl/interrupt_watcher.h"

#include <pthread.h>

#include <csignal>
#include <cstdlib>

#include "link/stop_signals.h"
#include "tools/kestrunectl/exit_status.h"

namespace kestrune::ctl {

namespace {

// Sent to the waiting thread alone to end it. It is one of the stop signals, so it is only ever
// taken by sigwait; from outside, it stops the command like the others.
constexpr int kWakeSignal = SIGUSR1;

}  // namespace

void blockStopSignals() {
    const sigset_t signals = stopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

InterruptWatcher::InterruptWatcher() : waiter_([this] { run(); }) {}

InterruptWatcher::~InterruptWatcher() {
    stopping_.store(true);
    pthread_kill(waiter_.native_handle(), kWakeSignal);
    waiter_.join();
}

void InterruptWatcher::setAction(std::function<void()> action) {
    const std::lock_guard lock(actionMutex_);
    action_ = std::move(action);
    if (interrupted() && action_) {
        action_();
    }
}

void InterruptWatcher::setLastWords(std::function<void()> lastWords) {
    const std::lock_guard lock(actionMutex_);
    lastWords_ = std::move(lastWords);
}

void InterruptWatcher::run() {
    const sigset_t signals = stopSignals();
    for (;;) {
        int taken = 0;
        if (sigwait(&signals, &taken) != 0) {
            continue;
        }
        if (taken == kWakeSignal && stopping_.load()) {
            return;
        }
        int none = 0;
        if (!signal_.compare_exchange_strong(none, taken)) {
            // A second stop signal: the winding down is stuck (a wedged adapter), so the user
            // gets the way out that a killed process would have given, once the last words,
            // whose own waits are bounded, are said.
            const std::lock_guard lock(actionMutex_);
            if (lastWords_) {
                lastWords_();
            }
            std::_Exit(kExitSignalBase + taken);
        }
        const std::lock_guard lock(actionMutex_);
        if (action_) {
            action_();
        }
    }
}

}  // namespace kestrune::ctl
