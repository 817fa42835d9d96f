// A NotificationSink that keeps every post, for tests; waits are generous and only end early.
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
    std::vector<Notification> posts() {
        std::lock_guard lock(mutex_);
        return posts_;
    }
    std::vector<Notification> postsOf(std::uint32_t message) {
        std::lock_guard lock(mutex_);
        std::vector<Notification> matching;
        for (const Notification& post : posts_) {
            if (post.message == message) {
                matching.push_back(post);
            }
        }
        return matching;
    }
    // The first post of that message, once it has come; an all-zero one if none came for a long
    // while.
    Notification firstOf(std::uint32_t message,
                         std::chrono::milliseconds patience = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex_);
        const auto found = [&] {
            return std::find_if(posts_.begin(), posts_.end(),
                                [&](const Notification& n) { return n.message == message; });
        };
        changed_.wait_for(lock, patience, [&] { return found() != posts_.end(); });
        const auto it = found();
        return it != posts_.end() ? *it : Notification{};
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Notification> posts_;
};

}  // namespace kestrune::test
