// Per-call timing shared by the benchmarks: the median and the 99th
// percentile of single calls, reported as counters in microseconds.
#pragma once

#include <algorithm>
#include <chrono>
#include <vector>

#include <benchmark/benchmark.h>

namespace bench {

inline void report_percentiles(benchmark::State& state, std::vector<double>& micros,
                               benchmark::Counter::Flags flags = benchmark::Counter::kDefaults) {
    if (micros.empty()) return;
    std::ranges::sort(micros);
    const auto at = [&](double q) {
        return micros[std::min(micros.size() - 1, static_cast<std::size_t>(q * micros.size()))];
    };
    state.counters["median_us"] = benchmark::Counter(at(0.5), flags);
    state.counters["p99_us"] = benchmark::Counter(at(0.99), flags);
}

// Runs `call` once per iteration and reports its percentiles.
template <class F>
void timed(benchmark::State& state, F&& call, benchmark::Counter::Flags flags = benchmark::Counter::kDefaults) {
    std::vector<double> micros;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        call();
        micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    report_percentiles(state, micros, flags);
}

}  // namespace bench
