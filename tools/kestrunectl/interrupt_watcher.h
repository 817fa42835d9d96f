// Ctrl-C, SIGTERM and every other signal that would end the program with the port left raw and
// exclusive (link/stop_signals.h) as a normal way to stop: the signals are blocked in every
// thread and taken by one thread with sigwait, which then runs the action the command has set
// (cancel the link, stop a read) while the command's own thread winds down and closes the port.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

namespace kestrune::ctl {

// Blocks the stop signals in the calling thread. Call it first thing in main, before any thread
// starts, so that every thread inherits the mask. SIGPIPE then never ends the program: a write
// to a closed output fails instead, and a SIGPIPE sent from outside is a stop like the others.
void blockStopSignals();

class InterruptWatcher {
  public:
    InterruptWatcher();
    // Wakes the waiting thread and joins it.
    ~InterruptWatcher();
    InterruptWatcher(const InterruptWatcher&) = delete;
    InterruptWatcher& operator=(const InterruptWatcher&) = delete;

    // Runs on the watcher's thread when a stop signal comes, or at once if one already has.
    // Set an empty action before whatever it touches goes away.
    void setAction(std::function<void()> action);
    // Runs on the watcher's thread before a second stop signal ends the program at once: what
    // must not be left undone even then (gpsd's device given back). Set an empty one likewise.
    void setLastWords(std::function<void()> lastWords);
    bool interrupted() const { return signal_.load() != 0; }
    // The stop signal taken, or 0.
    int signal() const { return signal_.load(); }

  private:
    void run();

    std::atomic<int> signal_{0};
    std::atomic<bool> stopping_{false};
    std::mutex actionMutex_;
    std::function<void()> action_;
    std::function<void()> lastWords_;
    std::thread waiter_;
};

}  // namespace kestrune::ctl
