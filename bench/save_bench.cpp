// Cost of a save in the virtual receiver at real speed, from the command to its outcome, for each
// way a receiver answers: a 0x8F-26 report, a restart and its 0x45, and a 0x13. Set against the
// receiver's own part (its reply delay, or its restart, and the answer's bytes on the line at
// 9600 bits/s); what is left is the program's overhead. Periodic output is held off.
#include <benchmark/benchmark.h>

#include <chrono>

#include "link/receiver_link.h"
#include "link/receiver_save.h"
#include "sim/simulated_port.h"
#include "sim/virtual_receiver.h"

namespace {

using namespace kestrune;
using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::duration<double, std::milli>;

constexpr double kReplyDelayMs = 5.0;
constexpr double kRestartMs = 1500.0;
constexpr double kMsPerByte = 10 * 1000.0 / 9600;  // start, eight data bits, stop
constexpr double kSaveCommandBytes = 5;            // 10 8E 26 10 03

struct Answer {
    SaveAnswer how;
    SaveOutcome outcome;
    double receiverMs;  // the receiver's delay before it answers
    double answerBytes;
};

constexpr Answer kAnswers[] = {
    {SaveAnswer::Report, SaveOutcome::Saved, kReplyDelayMs, 5},                 // 10 8F 26 10 03
    {SaveAnswer::Restart, SaveOutcome::Saved, kRestartMs + kReplyDelayMs, 14},  // 10 45, ten, 10 03
    {SaveAnswer::Refuse, SaveOutcome::CannotSave, kReplyDelayMs, 6},            // 10 13 8E 26 10 03
};

void BM_Save(benchmark::State& state) {
    const Answer& answer = kAnswers[state.range(0)];
    ReceiverBehaviour behaviour;
    behaviour.periodicOutput = false;
    behaviour.saveAnswer = answer.how;
    VirtualReceiver receiver({}, behaviour);
    ReceiverLink link(Timing{}, [&receiver](std::string_view) {
        return OpenResult{SimulatedPort::open(receiver)};
    });
    if (!link.open() || !link.configurePort(kFactoryLine)) {
        state.SkipWithError("virtual receiver would not open");
        return;
    }
    Milliseconds total{0};
    for (auto _ : state) {
        const auto start = Clock::now();
        const SaveOutcome outcome = saveConfiguration(link);
        const Milliseconds elapsed = Clock::now() - start;
        if (outcome != answer.outcome) {
            state.SkipWithError("unexpected outcome");
            return;
        }
        total += elapsed;
        state.SetIterationTime(std::chrono::duration<double>(elapsed).count());
    }
    const double mean = total.count() / static_cast<double>(state.iterations());
    const double receiverPart =
        answer.receiverMs + (kSaveCommandBytes + answer.answerBytes) * kMsPerByte;
    state.counters["mean_ms"] = mean;
    state.counters["receiver_ms"] = receiverPart;
    state.counters["overhead_ms"] = mean - receiverPart;
}

}  // namespace

BENCHMARK(BM_Save)
    ->ArgName("report0_restart1_refuse2")
    ->DenseRange(0, 2)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

BENCHMARK_MAIN();
