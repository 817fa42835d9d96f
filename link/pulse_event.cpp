// Pulse-only events. Each armed wait hangs a slot on the events it waits for; a pulse walks the
// slots present at that moment. Lock order is always event, then wait.
#include "link/pulse_event.h"

namespace kestrune {

void PulseEvent::attach(Slot& slot) {
    std::lock_guard lock(mutex_);
    slot.previous = nullptr;
    slot.next = armed_;
    if (armed_ != nullptr) {
        armed_->previous = &slot;
    }
    armed_ = &slot;
}

void PulseEvent::detach(Slot& slot) {
    std::lock_guard lock(mutex_);
    if (slot.previous != nullptr) {
        slot.previous->next = slot.next;
    } else {
        armed_ = slot.next;
    }
    if (slot.next != nullptr) {
        slot.next->previous = slot.previous;
    }
}

void PulseEvent::pulse() {
    std::lock_guard lock(mutex_);
    for (Slot* slot = armed_; slot != nullptr; slot = slot->next) {
        slot->wait->release(slot->which);
    }
}

void Cancellation::cancel() {
    cancelled_.store(true);
    raisedEvent_.pulse();
}

void Cancellation::abort() {
    aborted_.store(true);
    raisedEvent_.pulse();
}

void Cancellation::reset() {
    cancelled_.store(false);
    aborted_.store(false);
}

void Cancellation::resetAbort() {
    aborted_.store(false);
}

bool Cancellation::sleepFor(std::chrono::milliseconds delay) const {
    EventWait sleep(raisedEvent_, this);
    return sleep.wait(delay) == WaitResult::TimedOut;
}

EventWait::EventWait(PulseEvent& first, const Cancellation* cancellation)
    : cancellation_(cancellation) {
    arm(first, WaitResult::First);
    if (cancellation_ != nullptr) {
        arm(cancellation_->raisedEvent_, WaitResult::Cancelled);
    }
}

EventWait::EventWait(PulseEvent& first, PulseEvent& second, const Cancellation* cancellation)
    : cancellation_(cancellation) {
    arm(first, WaitResult::First);
    arm(second, WaitResult::Second);
    if (cancellation_ != nullptr) {
        arm(cancellation_->raisedEvent_, WaitResult::Cancelled);
    }
}

EventWait::~EventWait() {
    for (std::size_t i = 0; i < armed_; ++i) {
        events_[i]->detach(slots_[i]);
    }
}

void EventWait::arm(PulseEvent& event, WaitResult which) {
    events_[armed_] = &event;
    slots_[armed_].wait = this;
    slots_[armed_].which = which;
    event.attach(slots_[armed_]);
    ++armed_;
}

void EventWait::release(WaitResult which) {
    {
        std::lock_guard lock(mutex_);
        if (pulsed_ != WaitResult::TimedOut) {
            return;
        }
        pulsed_ = which;
    }
    released_.notify_one();
}

WaitResult EventWait::wait(std::chrono::milliseconds timeout) {
    // A cancellation raised before arming has no pulse left to deliver.
    if (cancellation_ != nullptr && cancellation_->raised()) {
        return WaitResult::Cancelled;
    }
    std::unique_lock lock(mutex_);
    released_.wait_for(lock, timeout, [this] { return pulsed_ != WaitResult::TimedOut; });
    return pulsed_;
}

}  // namespace kestrune
