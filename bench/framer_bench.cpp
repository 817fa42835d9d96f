// Framer throughput on what a receiver really sends: TSIP reports with doubled DLEs mixed with
// NMEA sentences.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/stream_framer.h"

namespace {

std::vector<std::uint8_t> realisticMix() {
    const std::vector<std::uint8_t> signalReport = {0x10, 0x47, 0x03, 0x05, 0x42, 0x20, 0x10, 0x10,
                                                    0x00, 0x10, 0x10, 0x41, 0xF0, 0x00, 0x00, 0x11,
                                                    0x42, 0x10, 0x10, 0x00, 0x00, 0x10, 0x03};
    const std::vector<std::uint8_t> portReport = {0x10, 0xBC, 0x00, 0x07, 0x07, 0x03, 0x00,
                                                  0x00, 0x00, 0x02, 0x02, 0x00, 0x10, 0x03};
    const std::vector<std::uint8_t> nmeaReport = {0x10, 0x7B, 0x00, 0x01, 0x00, 0x00,
                                                  0x01, 0x10, 0x10, 0x10, 0x03};
    const std::string sentences =
        "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n"
        "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n"
        "$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*39\r\n";
    std::vector<std::uint8_t> mix;
    while (mix.size() < (1u << 20)) {
        mix.insert(mix.end(), signalReport.begin(), signalReport.end());
        mix.insert(mix.end(), sentences.begin(), sentences.end());
        mix.insert(mix.end(), portReport.begin(), portReport.end());
        mix.insert(mix.end(), nmeaReport.begin(), nmeaReport.end());
    }
    return mix;
}

void framerThroughput(benchmark::State& state) {
    const std::vector<std::uint8_t> mix = realisticMix();
    kestrune::StreamFramer framer;
    std::size_t messages = 0;
    for (auto _ : state) {
        for (const std::uint8_t byte : mix) {
            if (const auto message = framer.feed(byte)) {
                benchmark::DoNotOptimize(message->data());
                ++messages;
            }
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * mix.size()));
    state.counters["messages"] =
        benchmark::Counter(static_cast<double>(messages), benchmark::Counter::kIsRate);
}
BENCHMARK(framerThroughput)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
