#include "app/port_lister.h"

#include <chrono>
#include <utility>

namespace kestrune {

namespace {

// One adapter plugged in brings several device events (the USB device, its interface, the
// serial driver, the tty), which udev passes on within tens of milliseconds of each other. A
// listing that waits this long after the first takes them all in, and still follows the plug
// faster than a person notices.
constexpr std::chrono::milliseconds kBurstSettle{100};

}  // namespace

PortLister::PortLister(Done done) : done_(std::move(done)), worker_([this] { run(); }) {}

PortLister::~PortLister() {
    {
        const std::lock_guard lock(mutex_);
        state_.stopping = true;
    }
    changed_.notify_all();
    worker_.join();
}

void PortLister::request(std::string device) {
    {
        const std::lock_guard lock(mutex_);
        state_.wanted = std::move(device);
    }
    changed_.notify_all();
}

void PortLister::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return state_.stopping || state_.wanted.has_value(); });
        if (state_.stopping ||
            changed_.wait_for(lock, kBurstSettle, [this] { return state_.stopping; })) {
            return;
        }
        PortSurvey survey;
        survey.device = *std::exchange(state_.wanted, std::nullopt);
        lock.unlock();
        survey.listing = listSerialPorts();
        if (!survey.device.empty()) {
            const std::optional<ListedPort> listed =
                findListedPort(survey.listing.ports, survey.device);
            survey.holder = listed ? listed->holder : findPortHolder(survey.device);
        }
        done_(std::move(survey));
        lock.lock();
    }
}

}  // namespace kestrune
