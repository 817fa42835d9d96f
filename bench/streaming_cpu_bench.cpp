// Processor time taken by an open link whose receiver streams without a pause at the full
// 38400 bit/s (3,840 bytes a second of NMEA sentences), watched for ten seconds on a
// pseudo-terminal. The sender is a child process, so only the link's own time is counted.
// Reported as a percentage of one core.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "bench/pty_link.h"

namespace {

using kestrune::test::PseudoTerminal;
using Clock = std::chrono::steady_clock;

constexpr std::chrono::seconds kWatch{10};
constexpr double kPercent = 100.0;
constexpr double kBytesPerSecond = 3840.0;  // 38400 bit/s at ten bits a byte
constexpr std::chrono::milliseconds kSendSlice{10};
// A GGA sentence with a valid checksum, as a receiver sends it.
constexpr char kSentence[] =
    "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";

std::chrono::duration<double> processorTime() {
    timespec used{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used);
    return std::chrono::seconds(used.tv_sec) + std::chrono::nanoseconds(used.tv_nsec);
}

// Writes the sentence over and over, paced to the line rate, until killed.
[[noreturn]] void stream(const PseudoTerminal& pty) {
    const std::string text(kSentence);
    const auto start = Clock::now();
    std::size_t sent = 0;
    for (;;) {
        std::this_thread::sleep_for(kSendSlice);
        const std::chrono::duration<double> elapsed = Clock::now() - start;
        const auto due = static_cast<std::size_t>(elapsed.count() * kBytesPerSecond);
        while (sent < due) {
            const std::size_t at = sent % text.size();
            const std::size_t count = std::min(text.size() - at, due - sent);
            if (::write(pty.master(), text.data() + at, count) <= 0) {
                ::_exit(1);
            }
            sent += count;
        }
    }
}

void streamingLinkCpu(benchmark::State& state) {
    PseudoTerminal pty;
    const auto link = kestrune::bench::openLinkOn(pty);
    if (link == nullptr ||
        !link->configurePort({38400, kestrune::Parity::None, kestrune::StopBits::One})) {
        state.SkipWithError("no pseudo-terminal to read");
        return;
    }
    const pid_t sender = ::fork();
    if (sender == 0) {
        stream(pty);
    }
    double share = 0.0;
    for (auto _ : state) {
        const auto usedBefore = processorTime();
        const auto startedAt = Clock::now();
        std::this_thread::sleep_for(kWatch);
        const std::chrono::duration<double> wall = Clock::now() - startedAt;
        const auto used = processorTime() - usedBefore;
        state.SetIterationTime(wall.count());
        share = kPercent * used.count() / wall.count();
    }
    ::kill(sender, SIGKILL);
    ::waitpid(sender, nullptr, 0);
    state.counters["cpu_percent_of_core"] = share;
}

BENCHMARK(streamingLinkCpu)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
