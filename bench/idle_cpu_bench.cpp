// Processor time taken by an open link with nothing to read, and by one whose device has hung up
// (the other side of its pseudo-terminal closed), each watched for ten seconds at the real read
// ceiling. Reported as a percentage of one core.
#include <benchmark/benchmark.h>

#include <time.h>

#include <chrono>
#include <thread>

#include "bench/pty_link.h"

namespace {

using kestrune::test::PseudoTerminal;

constexpr std::chrono::seconds kWatch{10};
constexpr double kPercent = 100.0;

std::chrono::duration<double> processorTime() {
    timespec used{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used);
    return std::chrono::seconds(used.tv_sec) + std::chrono::nanoseconds(used.tv_nsec);
}

void idleLinkCpu(benchmark::State& state, bool hungUp) {
    PseudoTerminal pty;
    const auto link = kestrune::bench::openLinkOn(pty);
    if (link == nullptr) {
        state.SkipWithError("no pseudo-terminal to read");
        return;
    }
    if (hungUp) {
        pty.closeMaster();
    }
    double share = 0.0;
    for (auto _ : state) {
        const auto usedBefore = processorTime();
        const auto startedAt = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(kWatch);
        const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - startedAt;
        const auto used = processorTime() - usedBefore;
        state.SetIterationTime(wall.count());
        share = kPercent * used.count() / wall.count();
    }
    state.counters["cpu_percent_of_core"] = share;
}

BENCHMARK_CAPTURE(idleLinkCpu, open_idle, false)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(idleLinkCpu, hung_up, true)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
