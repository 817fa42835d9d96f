// Pulse-only events. Each armed wait hangs a slot on the events it waits for; a pulse walks the
// slots present at that moment. Lock order is always event, then wait.
#include "link/platform_services.h"

namespace kestrune {

PulseEvent::~PulseEvent() = default;

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

EventWait::EventWait(PulseEvent& first) : events_{&first, nullptr} {
    slots_[0].wait = this;
    slots_[0].which = WaitResult::First;
    first.attach(slots_[0]);
}

EventWait::EventWait(PulseEvent& first, PulseEvent& second) : events_{&first, &second} {
    slots_[0].which = WaitResult::First;
    slots_[1].which = WaitResult::Second;
    for (int i = 0; i < 2; ++i) {
        slots_[i].wait = this;
        events_[i]->attach(slots_[i]);
    }
}

EventWait::~EventWait() {
    for (int i = 0; i < 2; ++i) {
        if (events_[i] != nullptr) {
            events_[i]->detach(slots_[i]);
        }
    }
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
    std::unique_lock lock(mutex_);
    released_.wait_for(lock, timeout, [this] { return pulsed_ != WaitResult::TimedOut; });
    return pulsed_;
}

}  // namespace kestrune
