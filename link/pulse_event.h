// Pulse-only events and the waits on them, and the cancellation every wait and sleep of the
// procedures watches.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace kestrune {

class EventWait;

// Which event of an armed wait was pulsed first; TimedOut while none has been.
enum class WaitResult { First, Second, Cancelled, TimedOut };

// A pulse-only, auto-reset event: a pulse releases the waits armed at that moment and is
// otherwise forgotten, so a wait never completes on a stale reply.
class PulseEvent {
  public:
    PulseEvent() = default;
    PulseEvent(const PulseEvent&) = delete;
    PulseEvent& operator=(const PulseEvent&) = delete;

    void pulse();

  private:
    friend class EventWait;
    struct Slot {
        EventWait* wait = nullptr;
        WaitResult which = WaitResult::TimedOut;
        Slot* previous = nullptr;
        Slot* next = nullptr;
    };
    void attach(Slot& slot);
    void detach(Slot& slot);

    std::mutex mutex_;
    Slot* armed_ = nullptr;
};

// A latched stop for the waits and sleeps of a procedure, from any thread. A wait armed with it
// ends as Cancelled as soon as it is raised, or at once if it already was.
class Cancellation {
  public:
    // The user's stop (Ctrl-C, the window closing).
    void cancel();
    // The device has gone; the running procedure can get nowhere.
    void abort();
    // Lowers both, for the next command.
    void reset();
    void resetAbort();

    bool cancelled() const { return cancelled_.load(); }
    bool aborted() const { return aborted_.load(); }
    bool raised() const { return cancelled() || aborted(); }

    // Sleeps for the delay; false, early, once raised.
    [[nodiscard]] bool sleepFor(std::chrono::milliseconds delay) const;

  private:
    friend class EventWait;
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> aborted_{false};
    mutable PulseEvent raisedEvent_;
};

// A wait armed on one event, or on the first of two, and on a cancellation, from construction to
// destruction. Arm it before writing the command it waits for, so a fast reply is not missed.
class EventWait {
  public:
    explicit EventWait(PulseEvent& first, const Cancellation* cancellation = nullptr);
    EventWait(PulseEvent& first, PulseEvent& second, const Cancellation* cancellation = nullptr);
    EventWait(const EventWait&) = delete;
    EventWait& operator=(const EventWait&) = delete;
    ~EventWait();

    // The event pulsed since arming (the earliest one), Cancelled once the cancellation is
    // raised, else TimedOut.
    [[nodiscard]] WaitResult wait(std::chrono::milliseconds timeout);

  private:
    friend class PulseEvent;
    static constexpr std::size_t kMaxSlots = 3;

    void arm(PulseEvent& event, WaitResult which);
    void release(WaitResult which);

    std::array<PulseEvent*, kMaxSlots> events_{};
    std::array<PulseEvent::Slot, kMaxSlots> slots_{};
    std::size_t armed_ = 0;
    const Cancellation* cancellation_;
    std::mutex mutex_;
    std::condition_variable released_;
    WaitResult pulsed_ = WaitResult::TimedOut;
};

}  // namespace kestrune
