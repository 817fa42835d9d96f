// Time of the receiver procedures at the real timing, against the virtual receiver at real
// speed, set against the waits and sleeps the procedures must sit through and the receiver's
// own answer (its reply delay and the reply's bytes on the line). What is left is the program's
// overhead. The receiver's periodic output is held off so that no report delays an answer.
#include <benchmark/benchmark.h>

#include <chrono>

#include "link/receiver_link.h"
#include "link/receiver_procedures.h"
#include "link/receiver_search.h"
#include "sim/simulated_port.h"
#include "sim/virtual_receiver.h"

namespace {

using namespace kestrune;
using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::duration<double, std::milli>;

constexpr int kProbesBeforeAnswer = 7;
constexpr LineSettings kSearchTarget{4800, Parity::None, StopBits::One};

// The receiver answers after its reply delay with a frame of so many bytes of so many bits.
constexpr double kReplyDelayMs = 5.0;
constexpr double kPortReportBytes = 14;  // 10 BC, ten data bytes, 10 03
constexpr double kNmeaReportBytes = 10;  // 10 7B, six data bytes, 10 03
constexpr double kMsPerSecond = 1000.0;
constexpr double kBitsNoParityOneStop = 10;  // start, eight data bits, stop
constexpr double kBitsParityTwoStops = 12;   // start, eight data bits, parity, two stops

Milliseconds answerTime(double bytes, double bitsPerByte, double baud) {
    return Milliseconds(kReplyDelayMs + bytes * bitsPerByte * kMsPerSecond / baud);
}

ReceiverSettings receiverAt(const LineSettings& line) {
    ReceiverSettings settings;
    settings.line = line;
    return settings;
}

ReceiverBehaviour speakingOnlyWhenAsked() {
    ReceiverBehaviour behaviour;
    behaviour.periodicOutput = false;
    return behaviour;
}

struct Rig {
    VirtualReceiver receiver;
    ReceiverLink link;
    explicit Rig(const LineSettings& line)
        : receiver(receiverAt(line), speakingOnlyWhenAsked()),
          link(Timing{},
               [this](std::string_view) { return OpenResult{SimulatedPort::open(receiver)}; }) {}
};

// Runs one procedure per iteration and reports its mean time above the mandated waiting.
template <typename Arrange, typename Procedure>
void measure(benchmark::State& state, Milliseconds mandated, Milliseconds answer, Arrange arrange,
             Procedure procedure) {
    Milliseconds total{0};
    for (auto _ : state) {
        Rig rig(kSearchTarget);
        if (!rig.link.open()) {
            state.SkipWithError("virtual receiver would not open");
            return;
        }
        arrange(rig);
        const auto start = Clock::now();
        const bool ok = procedure(rig.link);
        const Milliseconds elapsed = Clock::now() - start;
        if (!ok) {
            state.SkipWithError("procedure failed");
            return;
        }
        total += elapsed;
        state.SetIterationTime(std::chrono::duration<double>(elapsed).count());
    }
    const double mean = total.count() / static_cast<double>(state.iterations());
    state.counters["mean_ms"] = mean;
    state.counters["mandated_ms"] = mandated.count();
    state.counters["answer_ms"] = answer.count();
    state.counters["overhead_ms"] = mean - mandated.count() - answer.count();
}

void searchAt4800None(benchmark::State& state) {
    const Timing t;
    measure(
        state, kProbesBeforeAnswer * t.probeWait,
        answerTime(kPortReportBytes, kBitsNoParityOneStop, 4800), [](Rig&) {},
        [](ReceiverLink& link) { return searchReceiver(link); });
}

// Break, quiet after it, and the quiet rejection wait that accepts the factory configuration.
void resetFromOdd38400(benchmark::State& state) {
    const Timing t;
    measure(
        state, t.breakLength + t.breakQuiet + t.rejectWait,
        answerTime(kNmeaReportBytes, kBitsNoParityOneStop, 9600),
        [](Rig& rig) {
            rig.receiver.setSettings(receiverAt({38400, Parity::Odd, StopBits::One}));
        },
        [](ReceiverLink& link) { return resetReceiver(link, nullptr); });
}

// The reset's waits, then the new configuration's rejection wait and the settle sleep; the
// receiver answers twice, once for the reset and once at the new settings.
void apply19200EvenTwo(benchmark::State& state) {
    const Timing t;
    measure(
        state, t.breakLength + t.breakQuiet + 2 * t.rejectWait + t.settle,
        answerTime(kNmeaReportBytes, kBitsNoParityOneStop, 9600) +
            answerTime(kPortReportBytes, kBitsParityTwoStops, 19200),
        [](Rig&) {},
        [](ReceiverLink& link) {
            return applySettings(
                link, nullptr,
                {{19200, Parity::Even, StopBits::Two}, OutputProtocol::Tsip, kMaskGga | kMaskVtg});
        });
}

BENCHMARK(searchAt4800None)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(resetFromOdd38400)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(apply19200EvenTwo)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
