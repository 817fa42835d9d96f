// A scripted SerialPort for link tests: the test pushes bytes for the reader, makes the port
// fail in chosen ways, and sees which line settings were set and whether it was ever closed
// under a running reader.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "link/serial_port.h"

namespace kestrune::test {

struct FakePortState {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::uint8_t> incoming;
    // What the port hears back after every write, as a receiver answering at any setting.
    std::vector<std::uint8_t> answer;
    LineSettings settings;
    std::chrono::milliseconds ceiling{1000};
    bool dead = false;
    // Input stays in the port, unread, as if the reader had not come round to it yet.
    bool holding = false;
    bool stopped = false;
    bool failSetSettings = false;
    bool failCeiling = false;
    std::atomic<int> readsInProgress{0};
    std::atomic<bool> closedUnderReader{false};
    std::atomic<int> closed{0};
    std::uint64_t handedOut = 0;

    // True once the reader has taken every pushed byte.
    bool waitUntilDrained() {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(10),
                                [this] { return incoming.empty(); });
    }
    void push(std::span<const std::uint8_t> bytes) {
        change([&] { incoming.insert(incoming.end(), bytes.begin(), bytes.end()); });
    }
    void push(std::initializer_list<std::uint8_t> bytes) { push(std::span(bytes)); }
    template <typename Change>
    void change(Change apply) {
        {
            std::lock_guard lock(mutex);
            apply();
        }
        changed.notify_all();
    }
};

class FakeSerialPort : public SerialPort {
  public:
    explicit FakeSerialPort(std::shared_ptr<FakePortState> state) : state_(std::move(state)) {
        // A reopened port reads again, and counts its input afresh.
        state_->change([this] {
            state_->stopped = false;
            state_->handedOut = 0;
        });
    }
    ~FakeSerialPort() override {
        if (state_->readsInProgress.load() != 0) {
            state_->closedUnderReader.store(true);
        }
        ++state_->closed;
    }
    bool write(std::span<const std::uint8_t>) override {
        state_->change([this] {
            state_->incoming.insert(state_->incoming.end(), state_->answer.begin(),
                                    state_->answer.end());
        });
        return true;
    }
    // Like a real port, a dead one fails only after the ceiling.
    ReadResult readByte(std::uint8_t& byte) override {
        ++state_->readsInProgress;
        std::unique_lock lock(state_->mutex);
        state_->changed.wait_for(lock, state_->ceiling,
                                 [this] { return readable() || state_->stopped; });
        ReadResult result = state_->dead ? ReadResult::Failed : ReadResult::Nothing;
        if (state_->stopped) {
            result = ReadResult::Nothing;
        } else if (readable()) {
            byte = state_->incoming.front();
            state_->incoming.pop_front();
            ++state_->handedOut;
            result = ReadResult::Byte;
        }
        --state_->readsInProgress;
        lock.unlock();
        state_->changed.notify_all();
        return result;
    }
    std::uint64_t inputMark() override {
        std::lock_guard lock(state_->mutex);
        return state_->handedOut + state_->incoming.size();
    }
    bool setReadCeiling(std::chrono::milliseconds ceiling) override {
        state_->change([&] { state_->ceiling = ceiling; });
        return !state_->failCeiling;
    }
    bool getLineSettings(LineSettings& settings) override {
        std::lock_guard lock(state_->mutex);
        settings = state_->settings;
        return true;
    }
    bool setLineSettings(const LineSettings& settings) override {
        std::lock_guard lock(state_->mutex);
        if (!state_->failSetSettings) {
            state_->settings = settings;
        }
        return !state_->failSetSettings;
    }
    bool setBreak(bool) override { return true; }
    void stopReading() override {
        state_->change([this] { state_->stopped = true; });
    }

  private:
    bool readable() const { return !state_->incoming.empty() && !state_->holding; }

    std::shared_ptr<FakePortState> state_;
};

}  // namespace kestrune::test
