// Children are awaited, never waited for on a worker thread: while twenty
// tool calls hang on companions that have not finished, the server still
// answers at once.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "e2e/fixture.hpp"

using e2e::json;
namespace fs = std::filesystem;

namespace {

// The companion logs its start, then blocks reading one line from a FIFO
// that the test feeds only after it has seen the ping answered. The order of
// events is fixed by the test, not by how long anything takes.
TEST(Runner, PingIsAnsweredWhileTwentyCallsWaitOnChildren) {
    constexpr int calls = 20;
    e2e::Server server;
    const fs::path gate = server.root() / "gate";
    const fs::path started = server.root() / "started";
    ASSERT_EQ(::mkfifo(gate.c_str(), 0600), 0);
    fs::create_directories(started);
    const fs::path companion = server.home() / ".local" / "bin" / "wendle";
    fs::create_directories(companion.parent_path());
    std::ofstream(companion) << "#!/bin/sh\n"
                             << ": > '" << started.string() << "/'$$\n"
                             << "read line < '" << gate.string() << "'\n"
                             << "echo released\n";
    fs::permissions(companion, fs::perms::owner_all);

    std::mutex mutex;
    std::vector<std::string> events;
    auto record = [&](std::string event) {
        std::lock_guard lock(mutex);
        events.push_back(std::move(event));
    };
    std::vector<e2e::CallResult> results(calls);
    std::vector<std::thread> threads;
    for (int i = 0; i < calls; ++i) {
        threads.emplace_back([&, i] {
            // agent_launch: its 90-second limit leaves room for a slow machine.
            results[i] = server.call("agent_launch", {{"cwd", "/w/" + std::to_string(i)}, {"brief", "wait"}});
            record("call");
        });
    }

    // Wait until every child is running (or give up after a generous while).
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    auto running = [&] { return std::distance(fs::directory_iterator(started), fs::directory_iterator()); };
    while (running() < calls && std::chrono::steady_clock::now() < give_up)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(running(), calls);

    // A server whose workers sat in waitpid would not answer here at all.
    try {
        auto pong = server.rpc("ping", json::object());
        EXPECT_EQ(pong["result"], json::object());
        record("ping");
    } catch (const std::exception& e) {
        ADD_FAILURE() << "ping: " << e.what();
    }

    // Release the children: one line each (the shell reads byte by byte, up
    // to a line feed). The FIFO stays open for writing until every call has
    // returned, so a late reader still finds its line.
    int fd = ::open(gate.c_str(), O_RDWR);
    EXPECT_GE(fd, 0);
    for (int i = 0; i < calls; ++i) EXPECT_EQ(::write(fd, "go\n", 3), 3);
    for (auto& thread : threads) thread.join();
    ::close(fd);

    ASSERT_EQ(events.size(), calls + 1u);
    EXPECT_EQ(events.front(), "ping");
    for (const auto& result : results) {
        EXPECT_FALSE(result.is_error) << result.text;
        EXPECT_EQ(result.text, "released");
    }
}

}  // namespace
