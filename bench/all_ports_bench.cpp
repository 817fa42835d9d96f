// find --all over four mocked ports with virtual receivers at four settings, at the real timing,
// and the listing of 64 mocked ports. Run under the device test bed's preload:
//   umockdev-wrapper build-bench/bench/all_ports_bench
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "bench/quiet_stdout.h"
#include "link/port_list.h"
#include "sim/pty_receiver.h"
#include "sim/virtual_receiver.h"
#include "tests/support/mock_ports.h"
#include "tools/kestrunectl/all_ports.h"
#include "tools/kestrunectl/interrupt_watcher.h"

namespace {

using namespace kestrune;

constexpr int kListedPorts = 64;
// Periodic reports held off, so that none delays an answer.
constexpr std::uint32_t kQuietInterval = 255;

struct Served {
    std::unique_ptr<VirtualReceiver> receiver;
    std::unique_ptr<PtyReceiver> server;
};

void findAllFourReceivers(benchmark::State& state) {
    test::MockPorts bed;
    const ReceiverSettings settings[] = {
        {{9600, Parity::None, StopBits::One}, OutputProtocol::Tsip, 0, kQuietInterval},
        {{4800, Parity::Odd, StopBits::One}, OutputProtocol::Tsip, 0, kQuietInterval},
        {{38400, Parity::None, StopBits::One}, OutputProtocol::Tsip, 0, kQuietInterval},
        {{19200, Parity::Odd, StopBits::One}, OutputProtocol::Tsip, 0, kQuietInterval},
    };
    std::vector<Served> served;
    for (int number = 0; number < 4; ++number) {
        const std::string name = "ttyUSB" + std::to_string(number);
        Served one{std::make_unique<VirtualReceiver>(settings[number]), nullptr};
        one.server = PtyReceiver::start(*one.receiver);
        if (!bed.addUsb({name, "usbserial_generic"}, test::kUsbSerialMajor, number, number + 1) ||
            one.server == nullptr || !bed.serveFrom(name, one.server->slavePath())) {
            state.SkipWithError("needs umockdev-wrapper");
            return;
        }
        served.push_back(std::move(one));
    }
    ctl::Invocation invocation;
    invocation.allPorts = true;
    for (auto _ : state) {
        if (bench::quietly([&] { return ctl::runAllPorts(invocation); }) != 0) {
            state.SkipWithError("a receiver was not found");
            return;
        }
    }
}
BENCHMARK(findAllFourReceivers)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void listSixtyFourPorts(benchmark::State& state) {
    test::MockPorts bed;
    for (int number = 0; number < kListedPorts; ++number) {
        if (!bed.addUsb({"ttyUSB" + std::to_string(number), "usbserial_generic",
                         "USB Serial Adapter", "EX" + std::to_string(number)},
                        test::kUsbSerialMajor, number, number + 1)) {
            state.SkipWithError("needs umockdev-wrapper");
            return;
        }
    }
    for (auto _ : state) {
        const std::vector<ListedPort> ports = listSerialPorts().ports;
        if (ports.size() != kListedPorts) {
            state.SkipWithError("not every mocked port was listed");
            return;
        }
        benchmark::DoNotOptimize(ports.data());
    }
}
BENCHMARK(listSixtyFourPorts)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

// The stop signals are blocked before any thread starts, as kestrunectl's main does: the
// command's interrupt watcher takes them with sigwait.
int main(int argc, char** argv) {
    kestrune::ctl::blockStopSignals();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
