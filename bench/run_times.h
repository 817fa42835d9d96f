// The times of a benchmark's runs, reported as Google Benchmark's iteration time and as the
// mean and slowest counters the figures in bench/README.md quote.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>

namespace kestrune::bench {

class RunTimes {
  public:
    using Seconds = std::chrono::duration<double>;

    void add(benchmark::State& state, Seconds elapsed) {
        total_ += elapsed;
        slowest_ = std::max(slowest_, elapsed);
        state.SetIterationTime(elapsed.count());
    }
    // Call once the runs are over.
    void report(benchmark::State& state) const {
        state.counters["mean_s"] = total_.count() / static_cast<double>(state.iterations());
        state.counters["slowest_s"] = slowest_.count();
    }

  private:
    Seconds total_{0};
    Seconds slowest_{0};
};

}  // namespace kestrune::bench
