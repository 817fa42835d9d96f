// A NotificationSink that keeps every post, for tests; its wait is generous and only ends early.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "link/notification_sink.h"

namespace kestrune::test {

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
    // Every post of that message, once at least one has come or after a long while.
    std::vector<Notification> postsOf(std::uint32_t message) {
        std::unique_lock lock(mutex_);
        std::vector<Notification> matching;
        changed_.wait_for(lock, std::chrono::seconds(10), [&] {
            matching.clear();
            std::copy_if(posts_.begin(), posts_.end(), std::back_inserter(matching),
                         [&](const Notification& n) { return n.message == message; });
            return !matching.empty();
        });
        return matching;
    }
    std::vector<Notification> posts() {
        const std::lock_guard lock(mutex_);
        return posts_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Notification> posts_;
};

}  // namespace kestrune::test
