// The cost of one child through the process runner: `true` awaited on the
// io_context (spawn, pipes, pidfd wait, strand), next to the floor of a bare
// posix_spawnp and blocking waitpid; eight children at once on two worker
// threads; and 1 MiB sent through `cat` and read back.
#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/wait.h>

#include <string>
#include <thread>
#include <vector>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>

#include "fleet/process.hpp"

extern char** environ;

namespace {

namespace asio = boost::asio;

void run_all(asio::io_context& ctx, int threads) {
    std::vector<std::thread> extra;
    for (int i = 1; i < threads; ++i) extra.emplace_back([&] { ctx.run(); });
    ctx.run();
    for (auto& t : extra) t.join();
    ctx.restart();
}

void spawn_children(asio::io_context& ctx, int count, const fleet::Command& command, benchmark::State& state) {
    for (int i = 0; i < count; ++i) {
        asio::co_spawn(ctx, fleet::run_process(command), [&](std::exception_ptr e, fleet::Outcome outcome) {
            auto* exited = std::get_if<fleet::Exited>(&outcome);
            if (e || !exited || exited->code != 0) state.SkipWithError("child failed");
        });
    }
}

void BM_BareSpawnAndWait(benchmark::State& state) {
    char* argv[] = {const_cast<char*>("true"), nullptr};
    for (auto _ : state) {
        pid_t pid;
        if (::posix_spawnp(&pid, "true", nullptr, nullptr, argv, environ) != 0) state.SkipWithError("spawn");
        int status;
        ::waitpid(pid, &status, 0);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BareSpawnAndWait)->UseRealTime();

void BM_RunProcessTrue(benchmark::State& state) {
    asio::io_context ctx;
    fleet::Command command{.program = "true"};
    for (auto _ : state) {
        spawn_children(ctx, 1, command, state);
        run_all(ctx, 1);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RunProcessTrue)->UseRealTime();

void BM_RunProcessEightAtOnce(benchmark::State& state) {
    asio::io_context ctx;
    fleet::Command command{.program = "true"};
    for (auto _ : state) {
        spawn_children(ctx, 8, command, state);
        run_all(ctx, 2);
    }
    state.SetItemsProcessed(state.iterations() * 8);
}
BENCHMARK(BM_RunProcessEightAtOnce)->UseRealTime();

void BM_RunProcessCatOneMiB(benchmark::State& state) {
    asio::io_context ctx;
    fleet::Command command{.program = "cat", .input = std::string(1 << 20, 'x')};
    for (auto _ : state) {
        spawn_children(ctx, 1, command, state);
        run_all(ctx, 1);
    }
    state.SetBytesProcessed(state.iterations() * (2 << 20));  // in and out
}
BENCHMARK(BM_RunProcessCatOneMiB)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
