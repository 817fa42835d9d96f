// apply --all over four mocked ports, each named by a table, at the real timing: two receivers
// already match and two differ (one as gpsd leaves it, NMEA at 4800; one at another rate with
// other sentences). Reports the time of a whole run and the configuration commands sent. Run
// under the device test bed's preload:
//   umockdev-wrapper build-bench/bench/apply_bench
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "bench/quiet_stdout.h"
#include "tests/support/host_commands.h"
#include "tests/support/served_receiver.h"
#include "tools/kestrunectl/apply_command.h"
#include "tools/kestrunectl/interrupt_watcher.h"

namespace {

using namespace kestrune;

constexpr std::uint32_t kDeclaredSentences = kSentenceGga | kSentenceZda;

const ReceiverSettings kStart[] = {
    {{9600, Parity::None, StopBits::One}, OutputProtocol::Tsip, kDeclaredSentences},
    {{38400, Parity::Odd, StopBits::One}, OutputProtocol::Tsip, kDeclaredSentences},
    {{4800, Parity::None, StopBits::One}, OutputProtocol::Nmea, kSentenceGga | kSentenceRmc},
    {{19200, Parity::None, StopBits::One}, OutputProtocol::Tsip, kFactorySentences},
};

constexpr const char* kDeclared = R"([receiver.a]
usb-serial = "EX0"
baud = 9600
format = "tsip"
sentences = ["GGA", "ZDA"]
[receiver.b]
usb-serial = "EX1"
baud = 38400
parity = "odd"
format = "tsip"
sentences = ["GGA", "ZDA"]
[receiver.c]
usb-serial = "EX2"
baud = 9600
format = "tsip"
sentences = ["GGA", "ZDA"]
[receiver.d]
usb-serial = "EX3"
baud = 38400
parity = "odd"
format = "tsip"
sentences = ["GGA", "ZDA"]
)";

void applyAllFourPortsTwoMatching(benchmark::State& state) {
    test::MockPorts bed;
    std::vector<test::ServedReceiver> served(4);
    for (int number = 0; number < 4; ++number) {
        const std::string name = "ttyUSB" + std::to_string(number);
        if (!bed.addUsb(
                {name, "usbserial_generic", "USB Serial Adapter", "EX" + std::to_string(number)},
                test::kUsbSerialMajor, number, number + 1) ||
            !served[number].serve(bed, name, kStart[number])) {
            state.SkipWithError("needs umockdev-wrapper");
            return;
        }
    }
    const std::string path = std::filesystem::temp_directory_path() / "kestrune-apply-bench.toml";
    std::ofstream(path) << kDeclared;
    ctl::Invocation invocation;
    invocation.command = ctl::Command::Apply;
    invocation.allPorts = true;
    invocation.configFile = path;
    std::size_t matchingSent = 0, differingSent = 0;
    for (auto _ : state) {
        state.PauseTiming();
        for (std::size_t i = 0; i < served.size(); ++i) {
            served[i].receiver->setSettings(kStart[i]);
            served[i].receiver->clearHostWrites();
        }
        state.ResumeTiming();
        if (bench::quietly([&] { return ctl::runApply(invocation); }) != 0) {
            state.SkipWithError("a receiver did not end as declared");
            break;
        }
        for (std::size_t i = 0; i < served.size(); ++i) {
            (i < 2 ? matchingSent : differingSent) +=
                test::configurationCommands(*served[i].receiver);
        }
    }
    const auto runs = static_cast<double>(state.iterations());
    state.counters["commands_to_matching"] = static_cast<double>(matchingSent) / runs;
    state.counters["commands_to_differing"] = static_cast<double>(differingSent) / runs;
    std::filesystem::remove(path);
}
BENCHMARK(applyAllFourPortsTwoMatching)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

}  // namespace

// The stop signals are blocked before any thread starts, as kestrunectl's main does.
int main(int argc, char** argv) {
    kestrune::ctl::blockStopSignals();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
