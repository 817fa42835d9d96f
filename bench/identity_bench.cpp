// What asking who the receiver is adds to show, at the real timing, over a pseudo-terminal to the
// virtual receiver at real speed, 9600 bits/s: show's read of the sentence selection alone, and
// with the identity read in its TSIP turn, from a receiver that answers the three queries and from
// one that refuses them. A receiver that hears but never answers costs the whole identity wait;
// the last case times the identity read alone against a silent one. As in find_bench, the
// periodic reports are held off so that none delays an answer.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>

#include "bench/run_times.h"
#include "link/receiver_identity.h"
#include "link/receiver_link.h"
#include "sim/pty_receiver.h"
#include "sim/virtual_receiver.h"
#include "tools/kestrunectl/search.h"

namespace {

using namespace kestrune;
using Clock = std::chrono::steady_clock;
using bench::RunTimes;
using Seconds = RunTimes::Seconds;

enum class Read { SelectionAlone, SelectionAndIdentity, IdentityAlone };

struct Rig {
    VirtualReceiver receiver;
    std::unique_ptr<PtyReceiver> server;
    ctl::SelectionSink sink;
    std::unique_ptr<ReceiverLink> link;

    explicit Rig(const ReceiverBehaviour& behaviour)
        : receiver(ReceiverSettings{}, behaviour), server(PtyReceiver::start(receiver)) {
        if (server != nullptr) {
            const std::string path = server->slavePath();
            link = std::make_unique<ReceiverLink>(
                Timing{}, [path](std::string_view) { return openSerialDevice(path); });
            link->setWindow(&sink);
        }
    }
};

// The receiver counts as found at its factory settings, as after show's search.
void measure(benchmark::State& state, ReceiverBehaviour behaviour, Read read) {
    behaviour.periodicOutput = false;
    RunTimes times;
    for (auto _ : state) {
        Rig rig(behaviour);
        if (rig.link == nullptr || !rig.link->open() || !rig.link->configurePort(kFactoryLine)) {
            state.SkipWithError("no pseudo-terminal");
            return;
        }
        rig.link->storeVerified(kFactoryLine);
        ReceiverIdentity identity;
        const auto start = Clock::now();
        if (read == Read::IdentityAlone) {
            identity = readIdentity(*rig.link);
        } else if (!ctl::readSelection(*rig.link, rig.sink, [&] {
                       if (read == Read::SelectionAndIdentity) {
                           identity = readIdentity(*rig.link);
                       }
                   })) {
            state.SkipWithError("no selection");
            return;
        }
        const Seconds elapsed = Clock::now() - start;
        const bool answered = identity.firmware && identity.hardware && identity.software;
        if (answered != (read == Read::SelectionAndIdentity && behaviour.identity.answers)) {
            state.SkipWithError("the identity did not come as expected");
            return;
        }
        times.add(state, elapsed);
    }
    times.report(state);
}

const ReceiverBehaviour kAnswering{};
const ReceiverBehaviour kRefusing{.identity = {.answers = false}};
const ReceiverBehaviour kSilent{.answering = Answering::Silent};

void selectionAlone(benchmark::State& state) {
    measure(state, kAnswering, Read::SelectionAlone);
}
void selectionAndIdentity(benchmark::State& state) {
    measure(state, kAnswering, Read::SelectionAndIdentity);
}
void selectionAndRefusedIdentity(benchmark::State& state) {
    measure(state, kRefusing, Read::SelectionAndIdentity);
}
void identityOfSilentReceiver(benchmark::State& state) {
    measure(state, kSilent, Read::IdentityAlone);
}

constexpr int kRuns = 20;

BENCHMARK(selectionAlone)->Iterations(kRuns)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(selectionAndIdentity)->Iterations(kRuns)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(selectionAndRefusedIdentity)
    ->Iterations(kRuns)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(identityOfSilentReceiver)
    ->Iterations(kRuns)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
