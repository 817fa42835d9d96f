// The command line's two-pass find against the window's full search, at the real timing, over a
// pseudo-terminal to the virtual receiver at real speed: a TSIP receiver at 4800 and at 1200
// bits/s with no parity, and a silent one. As in procedures_bench, the receiver's periodic
// reports are held off so that none delays an answer. One more case keeps them on at 1200 bits/s,
// where each 0x47 report holds the line for a third of a second: the search starts at a tenth of
// a second later each run, so that the runs meet the reports at every point of their cycle.
// nmeaAt/N: the two-pass find of a receiver streaming NMEA (factory sentences, once a second) at
// setting N of the search's order (0: 38400 odd ... 11: 1200 none), the line garbling what the
// port hears at every other setting; a fresh receiver each run, started as the search starts.
// onUart/K/N/S/U: the two-pass find, with its TSIP check of a talker found by sentences, of a
// receiver of kind K (0: TSIP that speaks only when asked, 1: TSIP reporting every second,
// 2: NMEA once a second) at setting N with S stop bits, behind the serial hardware kUartChoices[U];
// the receiver has run for 0 to 0.9 s before the search starts, spread over the cases.
// noise/C/U: the two-pass find amid noise at every setting where no receiver talks, behind
// kUartChoices[U]: with no receiver at all (C 0), or a TSIP receiver reporting every second at
// 2400 bits/s 8N1 (C 1); quick_s is how long the quick pass took.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <memory>
#include <optional>
#include <thread>

#include "bench/run_times.h"
#include "link/receiver_link.h"
#include "link/receiver_search.h"
#include "sim/pty_receiver.h"
#include "sim/virtual_receiver.h"
#include "tools/kestrunectl/search.h"

namespace {

using namespace kestrune;
using Clock = std::chrono::steady_clock;
using bench::RunTimes;
using Seconds = RunTimes::Seconds;

enum class Search { TwoPass, Full };

constexpr std::uint32_t kQuietInterval = 255;
constexpr std::uint32_t kEverySecond = 1;
constexpr std::chrono::milliseconds kNoShift{0};
constexpr std::chrono::milliseconds kPhaseStep{100};

struct Target {
    LineSettings line;
    Answering answering;
    std::uint32_t intervalSeconds;
    OutputProtocol output = OutputProtocol::Tsip;
    bool periodicOutput = true;
    UartModel uart{};
    LineNoise noise = LineNoise::None;
};

constexpr Target kAt4800{
    {4800, Parity::None, StopBits::One}, Answering::ExactSettings, kQuietInterval};
constexpr Target kAt1200{
    {1200, Parity::None, StopBits::One}, Answering::ExactSettings, kQuietInterval};
constexpr Target kAt1200Reporting{
    {1200, Parity::None, StopBits::One}, Answering::ExactSettings, kEverySecond};
constexpr Target kSilent{{9600, Parity::None, StopBits::One}, Answering::Silent, kQuietInterval};

// A receiver served on a fresh pseudo-terminal, and a link on its slave side.
struct Rig {
    VirtualReceiver receiver;
    std::unique_ptr<PtyReceiver> server;
    std::unique_ptr<ReceiverLink> link;

    explicit Rig(const Target& target)
        : receiver(ReceiverSettings{target.line, target.output, kFactorySentences,
                                    target.intervalSeconds},
                   ReceiverBehaviour{.answering = target.answering,
                                     .periodicOutput = target.periodicOutput,
                                     .uart = target.uart,
                                     .noise = target.noise}),
          server(PtyReceiver::start(receiver)) {
        if (server != nullptr) {
            const std::string path = server->slavePath();
            link = std::make_unique<ReceiverLink>(
                Timing{}, [path](std::string_view) { return openSerialDevice(path); });
        }
    }
};

// Times each search from its first probe; the receiver has run for lead before the first, and
// shift delays the start of run n by n times shift more.
void measure(benchmark::State& state, const Target& target, Search search,
             std::chrono::milliseconds shift, std::chrono::milliseconds lead = kNoShift) {
    const bool expectFound =
        target.answering != Answering::Silent && target.noise != LineNoise::Only;
    RunTimes times;
    Seconds quickTotal{0};
    std::chrono::milliseconds delay = lead;
    for (auto _ : state) {
        Rig rig(target);
        if (rig.link == nullptr || !rig.link->open()) {
            state.SkipWithError("no pseudo-terminal");
            return;
        }
        std::this_thread::sleep_for(delay);
        delay += shift;
        const auto start = Clock::now();
        std::optional<Clock::time_point> fullStart;
        SearchOptions options;
        options.onProbe = [&fullStart](SearchPass pass, const ProbeProgress&) {
            if (pass == SearchPass::Full && !fullStart) {
                fullStart = Clock::now();
            }
        };
        const bool found = search == Search::TwoPass
                               ? findReceiver(*rig.link, options) == SearchOutcome::Found
                               : searchReceiver(*rig.link);
        const Seconds elapsed = Clock::now() - start;
        quickTotal += fullStart.value_or(Clock::now()) - start;
        // Found by its sentences, a receiver sends no report of its stop bits, and its TSIP
        // check sets one; on a native USB port it is moved to where its sentences came first.
        LineSettings expected = target.line;
        if (target.output == OutputProtocol::Nmea) {
            expected.stopBits = StopBits::One;
            if (target.uart.nativeUsb) {
                expected = rig.receiver.settings().line;
            }
        }
        if (found != expectFound || (found && rig.link->verifiedSettings() != expected)) {
            state.SkipWithError("the search did not end as expected");
            return;
        }
        times.add(state, elapsed);
    }
    times.report(state);
    state.counters["quick_s"] = quickTotal.count() / static_cast<double>(state.iterations());
}

void twoPassAt4800(benchmark::State& state) {
    measure(state, kAt4800, Search::TwoPass, kNoShift);
}
void fullAt4800(benchmark::State& state) {
    measure(state, kAt4800, Search::Full, kNoShift);
}
void twoPassAt1200(benchmark::State& state) {
    measure(state, kAt1200, Search::TwoPass, kNoShift);
}
void fullAt1200(benchmark::State& state) {
    measure(state, kAt1200, Search::Full, kNoShift);
}
void twoPassSilent(benchmark::State& state) {
    measure(state, kSilent, Search::TwoPass, kNoShift);
}
void fullSilent(benchmark::State& state) {
    measure(state, kSilent, Search::Full, kNoShift);
}
void twoPassAt1200Reporting(benchmark::State& state) {
    measure(state, kAt1200Reporting, Search::TwoPass, kPhaseStep);
}

void nmeaAt(benchmark::State& state) {
    const Target target{probeOrder()[static_cast<std::size_t>(state.range(0))],
                        Answering::ExactSettings, kEverySecond, OutputProtocol::Nmea};
    measure(state, target, Search::TwoPass, kNoShift);
}

constexpr int kPhases = 10;
// Tenths of a second between neighbouring cases, so that they meet the output at different
// points: the next setting three on, the other stop bits half a second away, the next hardware
// seven on.
constexpr std::array<int, 3> kPhaseSpread{3, 5, 7};

void onUart(benchmark::State& state) {
    const auto kind = state.range(0);
    LineSettings line = probeOrder()[static_cast<std::size_t>(state.range(1))];
    line.stopBits = state.range(2) == 2 ? StopBits::Two : StopBits::One;
    Target target{line, Answering::ExactSettings, kEverySecond};
    target.periodicOutput = kind != 0;
    target.output = kind == 2 ? OutputProtocol::Nmea : OutputProtocol::Tsip;
    target.uart = kUartChoices[static_cast<std::size_t>(state.range(3))].model;
    state.SetLabel(std::string(kUartChoices[static_cast<std::size_t>(state.range(3))].name));
    // A receiver a user finds has been running: the cases meet its output at every point of its
    // second, spread evenly over the settings, the stop bits and the hardware.
    const auto spread = state.range(0) + kPhaseSpread[0] * state.range(1) +
                        kPhaseSpread[1] * state.range(2) + kPhaseSpread[2] * state.range(3);
    measure(state, target, Search::TwoPass, kNoShift, kPhaseStep * (spread % kPhases));
}

void noise(benchmark::State& state) {
    Target target{{2400, Parity::None, StopBits::One}, Answering::ExactSettings, kEverySecond};
    target.noise = state.range(0) == 0 ? LineNoise::Only : LineNoise::OtherSettings;
    target.uart = kUartChoices[static_cast<std::size_t>(state.range(1))].model;
    state.SetLabel(std::string(kUartChoices[static_cast<std::size_t>(state.range(1))].name));
    measure(state, target, Search::TwoPass, kNoShift);
}

constexpr int kQuickRuns = 5;
constexpr int kLongRuns = 2;

BENCHMARK(twoPassAt4800)->Iterations(kQuickRuns)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(fullAt4800)->Iterations(kLongRuns)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(twoPassAt1200)->Iterations(kQuickRuns)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(fullAt1200)->Iterations(kLongRuns)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(twoPassSilent)->Iterations(kLongRuns)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(fullSilent)->Iterations(kLongRuns)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(nmeaAt)
    ->DenseRange(0, static_cast<int>(kProbeCount) - 1)
    ->Iterations(kLongRuns)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(onUart)
    ->ArgsProduct({{0, 1, 2},
                   benchmark::CreateDenseRange(0, static_cast<int>(kProbeCount) - 1, 1),
                   {1, 2},
                   benchmark::CreateDenseRange(0, static_cast<int>(kUartChoices.size()) - 1, 1)})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(noise)
    ->ArgsProduct({{0, 1},
                   benchmark::CreateDenseRange(0, static_cast<int>(kUartChoices.size()) - 1, 1)})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(twoPassAt1200Reporting)
    ->Iterations(kPhases)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
