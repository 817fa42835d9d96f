// How long a reply takes to release the thread waiting for it: a ReceiverLink reads a
// pseudo-terminal while another thread writes a TSIP packet to the other side. Timed from just
// before the packet's last byte is written to the waiting thread's release.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <semaphore>
#include <span>
#include <thread>
#include <vector>

#include "bench/pty_link.h"

namespace {

using Clock = std::chrono::steady_clock;
using kestrune::test::PseudoTerminal;

constexpr std::chrono::milliseconds kReplyTimeout{3000};
constexpr int kSamples = 2000;
constexpr double kMedian = 0.5;
constexpr double kNinetieth = 0.9;

// 10 8F 00 10 03: a short report; its final ETX completes the packet.
constexpr std::array<std::uint8_t, 5> kReply{0x10, 0x8F, 0x00, 0x10, 0x03};

double percentile(std::vector<double> samples, double fraction) {
    const auto at = static_cast<std::size_t>(fraction * static_cast<double>(samples.size() - 1));
    std::nth_element(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(at),
                     samples.end());
    return samples[at];
}

// Writes one reply each time it is told to, noting when the last byte went out.
class ReplyWriter {
  public:
    explicit ReplyWriter(const PseudoTerminal& pty) : pty_(pty), thread_([this] { run(); }) {}
    ~ReplyWriter() {
        stop_.store(true);
        go_.release();
        thread_.join();
    }

    // Starts writing one reply on the writer's thread.
    void send() { go_.release(); }
    // Waits until that reply is written; gives the time just before its last byte went out.
    Clock::time_point lastByteAt() {
        done_.acquire();
        return lastByteAt_;
    }

  private:
    void run() {
        const std::span<const std::uint8_t> reply(kReply);
        for (go_.acquire(); !stop_.load(); go_.acquire()) {
            (void)pty_.write(reply.first(reply.size() - 1));
            lastByteAt_ = Clock::now();
            (void)pty_.write(reply.last(1));
            done_.release();
        }
    }

    const PseudoTerminal& pty_;
    std::binary_semaphore go_{0};
    std::binary_semaphore done_{0};
    std::atomic<bool> stop_{false};
    Clock::time_point lastByteAt_;
    std::thread thread_;
};

void replyLatency(benchmark::State& state) {
    PseudoTerminal pty;
    const auto link = kestrune::bench::openLinkOn(pty);
    if (link == nullptr) {
        state.SkipWithError("no pseudo-terminal to read");
        return;
    }
    ReplyWriter writer(pty);
    std::vector<double> micros;
    micros.reserve(kSamples);
    for (auto _ : state) {
        kestrune::EventWait wait(link->replyEvent());
        writer.send();
        const kestrune::WaitResult result = wait.wait(kReplyTimeout);
        const Clock::time_point released = Clock::now();
        const Clock::time_point lastByteAt = writer.lastByteAt();
        if (result != kestrune::WaitResult::First) {
            state.SkipWithError("the reply never released the wait");
            return;
        }
        const std::chrono::duration<double> latency = released - lastByteAt;
        state.SetIterationTime(latency.count());
        micros.push_back(std::chrono::duration<double, std::micro>(latency).count());
    }
    state.counters["median_us"] = percentile(micros, kMedian);
    state.counters["p90_us"] = percentile(micros, kNinetieth);
    state.counters["max_us"] = *std::max_element(micros.begin(), micros.end());
}

BENCHMARK(replyLatency)->Iterations(kSamples)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
