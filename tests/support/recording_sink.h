// A NotificationSink that keeps every post, for tests; waits are generous and only end early.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "link/platform_services.h"

namespace kestrune::testing_support {

struct Notification {
    std::uint32_t message;
    std::uint32_t first;
    std::uint32_t second;
    bool operator==(const Notification&) const = default;
};

class RecordingSink : public NotificationSink {
public:
    void post(std::uint32_t message, std::uint32_t first, std::uint32_t second) override {
        {
            std::lock_guard lock(mutex_);
            posts_.push_back({message, first, second});
        }
        changed_.notify_all();
    }
    std::vector<Notification> posts() {
        std::lock_guard lock(mutex_);
        return posts_;
    }
    // Returns the posts once there are at least count of them, or what there is after a while.
    std::vector<Notification> waitFor(std::size_t count,
                                      std::chrono::milliseconds patience = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, patience, [&] { return posts_.size() >= count; });
        return posts_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Notification> posts_;
};

}  // namespace kestrune::testing_support
