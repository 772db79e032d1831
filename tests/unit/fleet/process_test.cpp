#include "fleet/process.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <sstream>

#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <gtest/gtest.h>

#include "unit/fleet/support.hpp"

namespace {

using namespace std::chrono_literals;
using fleet::Command;
using fleet::Exited;
using fleet::NotStarted;
using fleet::Outcome;
using fleet::TimedOut;
using testing_support::run_sync;

Command shell(std::string script, std::optional<std::string> input = std::nullopt,
              std::optional<std::chrono::seconds> limit = std::nullopt) {
    return Command{"sh", {"-c", std::move(script)}, std::move(input), limit};
}

Outcome run(Command command, int threads = 1) { return run_sync(fleet::run_process(std::move(command)), threads); }

Exited exited(const Outcome& outcome) {
    if (auto* e = std::get_if<Exited>(&outcome)) return *e;
    ADD_FAILURE() << "expected an exit, got outcome #" << outcome.index();
    return {};
}

TEST(RunProcess, ExitOutcomes) {
    struct Case {
        const char* name;
        std::string script;
        std::optional<int> code;
        std::optional<int> signal;
        std::string out, err;
        std::vector<std::string> extra_args = {};
    };
    const Case cases[] = {
        {"output and success", "printf 'word\\n'", 0, {}, "word\n", ""},
        {"silent success", "true", 0, {}, "", ""},
        {"failure with stderr", "echo half; echo broke >&2; exit 2", 2, {}, "half\n", "broke\n"},
        {"silent failure", "exit 2", 2, {}, "", ""},
        {"exit code above 127", "exit 200", 200, {}, "", ""},
        {"ended by a signal", "echo before; kill -TERM $$; sleep 5", {}, SIGTERM, "before\n", ""},
        {"arguments reach the child unsplit", "printf '[%s]' \"$0\" \"$1\"", 0, {}, "[a b][$HOME]", "", {"a b", "$HOME"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Command command = shell(c.script);
        command.args.insert(command.args.end(), c.extra_args.begin(), c.extra_args.end());
        auto e = exited(run(command));
        EXPECT_EQ(e.code, c.code);
        EXPECT_EQ(e.signal, c.signal);
        EXPECT_FALSE(e.core_dumped);
        EXPECT_EQ(e.out, c.out);
        EXPECT_EQ(e.err, c.err);
    }
}

TEST(RunProcess, ProgramThatCannotStart) {
    const std::string programs[] = {"/nonexistent/velmora-no-such-program", "velmora-no-such-program-on-path"};
    for (const auto& program : programs) {
        SCOPED_TRACE(program);
        auto outcome = run(Command{program, {"x"}, std::nullopt, 5s});
        auto* failed = std::get_if<NotStarted>(&outcome);
        ASSERT_NE(failed, nullptr);
        EXPECT_EQ(failed->error, "No such file or directory");
    }
    testing_support::ScratchDir dir;
    auto outcome = run(Command{dir.path().string(), {}, std::nullopt, std::nullopt});
    ASSERT_TRUE(std::holds_alternative<NotStarted>(outcome));
    EXPECT_EQ(std::get<NotStarted>(outcome).error, "Permission denied");
}

// What the child inherits: /dev/null as stdin without input, SIGPIPE at its
// default, no blocked signals, and no descriptor of ours beyond 0, 1 and 2.
TEST(RunProcess, ChildStartsClean) {
    int leaked = ::open("/dev/null", O_RDONLY);  // deliberately without O_CLOEXEC
    ASSERT_GE(leaked, 0);
    auto e = exited(run(shell("readlink /proc/self/fd/0; "
                              "awk '/^Sig(Ign|Blk)/ {print $1, $2}' /proc/self/status; "
                              "ls /proc/$$/fd")));
    ::close(leaked);
    std::istringstream lines(e.out);
    std::string stdin_target, ign_label, ign, blk_label, blk;
    lines >> stdin_target >> blk_label >> blk >> ign_label >> ign;
    EXPECT_EQ(stdin_target, "/dev/null");
    EXPECT_EQ(blk_label, "SigBlk:");
    EXPECT_EQ(std::stoull(blk, nullptr, 16), 0u);
    EXPECT_EQ(ign_label, "SigIgn:");
    EXPECT_EQ(std::stoull(ign, nullptr, 16) & (1ull << (SIGPIPE - 1)), 0u);
    std::set<std::string> fds;
    for (std::string fd; lines >> fd;) fds.insert(fd);
    EXPECT_EQ(fds, (std::set<std::string>{"0", "1", "2"}));
}

TEST(RunProcess, InputReachesTheChildByteForByte) {
    std::string input = "h\xC3\xA9llo \xE4\xB8\x96\xE7\x95\x8C \xF0\x9F\x9A\x80\n";
    input += std::string("\0tail", 5);
    input += "\xFF\xFE not UTF-8 either";
    auto e = exited(run(shell("cat", input)));
    EXPECT_EQ(e.code, 0);
    EXPECT_EQ(e.out, input);
    // An empty input is an empty, closed stdin.
    EXPECT_EQ(exited(run(shell("wc -c", ""))).out, "0\n");
}

// The child writes megabytes to both outputs before it reads its input: the
// runner must drain while it writes, or both sides would wait forever.
TEST(RunProcess, TenMegabytesEachWayWithoutDeadlock) {
    constexpr std::size_t size = 10 * 1024 * 1024;
    std::string input(size, 'i');
    input.back() = '\n';
    auto e = exited(run(shell("head -c 10485760 /dev/zero | tr '\\0' o; "
                              "head -c 10485760 /dev/zero | tr '\\0' e >&2; "
                              "wc -c",
                              input, 60s),
                        2));
    EXPECT_EQ(e.code, 0);
    ASSERT_EQ(e.out.size(), size + std::to_string(size).size() + 1);
    EXPECT_EQ(e.out.substr(size), std::to_string(size) + "\n");
    EXPECT_EQ(e.out.find_first_not_of('o'), size);
    EXPECT_EQ(e.err, std::string(size, 'e'));

    // Echoing 10 MB back: reading and writing at the same time.
    auto echoed = exited(run(shell("cat", input, 60s)));
    EXPECT_TRUE(echoed.out == input);
}

TEST(RunProcess, ChildThatIgnoresItsInputStillEnds) {
    auto e = exited(run(shell("exit 4", std::string(4 * 1024 * 1024, 'x'), 60s)));
    EXPECT_EQ(e.code, 4);
}

TEST(RunProcess, TimeOutAnswersAtOnceAndTheChildIsReapedLater) {
    testing_support::ScratchDir dir;
    auto pid_file = dir.path() / "pid";
    boost::asio::io_context ctx;
    std::optional<Outcome> outcome;
    bool alive_at_answer = false;
    char state_at_answer = '?';
    pid_t pid = -1;
    boost::asio::co_spawn(
        ctx, fleet::run_process(shell("echo $$ > '" + pid_file.string() + "'; exec sleep 4", std::nullopt, 1s)),
        [&](std::exception_ptr, Outcome o) {
            outcome = std::move(o);
            pid = std::stoi(testing_support::read_file(pid_file));
            alive_at_answer = ::kill(pid, 0) == 0;
            std::string stat = testing_support::read_file("/proc/" + std::to_string(pid) + "/stat");
            auto close = stat.rfind(')');
            if (close != std::string::npos && close + 2 < stat.size()) state_at_answer = stat[close + 2];
        });
    ctx.run();  // returns only once the background reaper is done too
    ASSERT_TRUE(outcome);
    EXPECT_TRUE(std::holds_alternative<TimedOut>(*outcome));
    EXPECT_TRUE(alive_at_answer);
    EXPECT_NE(state_at_answer, 'Z');
    // Reaped: the process is gone entirely, not left as a zombie.
    EXPECT_FALSE(std::filesystem::exists("/proc/" + std::to_string(pid)));
    EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), -1);
}

TEST(RunProcess, LimitTooLargeToAddMeansNoDeadline) {
    auto e = exited(run(shell("echo ok", std::nullopt, std::chrono::seconds::max())));
    EXPECT_EQ(e.out, "ok\n");
}

// A worker that awaits a child stays free: on a single-threaded context a
// short timer fires while a child without a deadline is still sleeping.
TEST(RunProcess, WaitingDoesNotHoldTheThread) {
    boost::asio::io_context ctx;
    std::vector<std::string> events;
    boost::asio::co_spawn(ctx, fleet::run_process(shell("sleep 2")),
                          [&](std::exception_ptr, Outcome) { events.push_back("child"); });
    boost::asio::steady_timer timer(ctx, 100ms);
    timer.async_wait([&](auto) { events.push_back("timer"); });
    ctx.run();
    EXPECT_EQ(events, (std::vector<std::string>{"timer", "child"}));
}

TEST(RunProcess, PollingFallbackReadsTheStatus) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) ::_exit(7);
    auto [ec, status] = run_sync(fleet::detail::poll_exit(pid));
    EXPECT_FALSE(ec);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 7);
}

TEST(StatusText, ExitAndSignalWording) {
    struct Case {
        Exited exited;
        std::string text;
    };
    const Case cases[] = {
        {{.code = 0}, "exit status: 0"},
        {{.code = 2}, "exit status: 2"},
        {{.code = 255}, "exit status: 255"},
        {{.signal = SIGKILL}, "signal: 9 (SIGKILL)"},
        {{.signal = SIGTERM}, "signal: 15 (SIGTERM)"},
        {{.signal = SIGSEGV, .core_dumped = true}, "signal: 11 (SIGSEGV) (core dumped)"},
        {{.signal = SIGABRT, .core_dumped = true}, "signal: 6 (SIGABRT) (core dumped)"},
        {{.signal = 40}, "signal: 40"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(fleet::status_text(c.exited), c.text);
    }
}

}  // namespace
