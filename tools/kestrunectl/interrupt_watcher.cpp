#include "tools/kestrunectl/interrupt_watcher.h"

#include <pthread.h>

#include <csignal>

namespace kestrune::ctl {

namespace {

// Sent to the waiting thread alone to end it; blocked with the stop signals so that it is only
// ever taken by sigwait.
constexpr int kWakeSignal = SIGUSR1;

sigset_t watchedSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, kWakeSignal);
    return signals;
}

}  // namespace

void blockStopSignals() {
    const sigset_t signals = watchedSignals();
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

// A wake-up signal from outside the program, while no stop is asked for, is ignored.
void InterruptWatcher::run() {
    const sigset_t signals = watchedSignals();
    for (;;) {
        int taken = 0;
        if (sigwait(&signals, &taken) != 0) {
            continue;
        }
        if (taken == kWakeSignal) {
            if (stopping_.load()) {
                return;
            }
            continue;
        }
        int none = 0;
        signal_.compare_exchange_strong(none, taken);
        const std::lock_guard lock(actionMutex_);
        if (action_) {
            action_();
        }
    }
}

}  // namespace kestrune::ctl
