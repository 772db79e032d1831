// Child processes: spawned with posix_spawnp, awaited through a pidfd, their
// pipes driven by the caller's io_context. No worker thread ever waits on a
// child; a timed-out child is left running and reaped in the background.
// Boost.Process 1.81 cannot be used header-only (its error and exit-code
// headers include each other); this file compiles the few parts it needs.
#define BOOST_PROCESS_USE_STD_FS 1
#define BOOST_PROCESS_V2_SEPARATE_COMPILATION 1

#include "fleet/process.hpp"
#include "fleet/os_error.hpp"
#include "fleet/unique_fd.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <mutex>
#include <system_error>
#include <tuple>
#include <utility>

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/experimental/awaitable_operators.hpp>
#include <boost/asio/readable_pipe.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/writable_pipe.hpp>
#include <boost/asio/write.hpp>
#include <boost/io/quoted.hpp>
#include <boost/optional.hpp>
// Boost.Process 1.81's headers lean on the two above and on this order.
#include <boost/process/v2/exit_code.hpp>
#include <boost/process/v2/process_handle.hpp>
#include <boost/process/v2/detail/impl/last_error.ipp>
#include <boost/process/v2/detail/impl/throw_error.ipp>
#include <boost/process/v2/impl/error.ipp>
#include <toolport/toolport.hpp>

extern char** environ;

namespace fleet {

namespace asio = boost::asio;
using boost::system::error_code;
using toolport::Result;
using asio::experimental::awaitable_operators::operator&&;
using asio::experimental::awaitable_operators::operator||;

namespace {

constexpr auto tuple_awaitable = asio::as_tuple(asio::use_awaitable);

// Moves a descriptor above the standard three, so that the child's dup2 onto
// 0, 1 and 2 can never overwrite another of the pipe ends.
Result<UniqueFd> above_stdio(int fd) {
    UniqueFd owned(fd);
    if (fd > 2) return owned;
    int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (moved < 0) return std::unexpected(os_error_text(errno));
    return UniqueFd(moved);
}

struct Pipe {
    UniqueFd read, write;
};

Result<Pipe> make_pipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return std::unexpected(os_error_text(errno));
    UniqueFd r(fds[0]), w(fds[1]);
    auto read = above_stdio(r.release());
    if (!read) return std::unexpected(read.error());
    auto write = above_stdio(w.release());
    if (!write) return std::unexpected(write.error());
    return Pipe{std::move(*read), std::move(*write)};
}

struct Spawned {
    pid_t pid;
    UniqueFd input;  // our end of the child's stdin; invalid without input
    UniqueFd out;
    UniqueFd err;
};

// RAII for the two posix_spawn records.
struct SpawnSetup {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    SpawnSetup() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attr);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
};

Result<Spawned> spawn(const Command& command) {
    std::optional<Pipe> in;
    if (command.input) {
        auto p = make_pipe();
        if (!p) return std::unexpected(p.error());
        in = std::move(*p);
    }
    auto out = make_pipe();
    if (!out) return std::unexpected(out.error());
    auto err = make_pipe();
    if (!err) return std::unexpected(err.error());

    SpawnSetup setup;
    int rc = in ? posix_spawn_file_actions_adddup2(&setup.actions, in->read.get(), 0)
                : posix_spawn_file_actions_addopen(&setup.actions, 0, "/dev/null", O_RDONLY, 0);
    if (rc == 0) rc = posix_spawn_file_actions_adddup2(&setup.actions, out->write.get(), 1);
    if (rc == 0) rc = posix_spawn_file_actions_adddup2(&setup.actions, err->write.get(), 2);
    // Nothing of the server (sockets, other children's pipes) leaks into the child.
    if (rc == 0) rc = posix_spawn_file_actions_addclosefrom_np(&setup.actions, 3);

    // The server ignores SIGPIPE; the child gets it back, and no blocked signals.
    sigset_t defaults, mask;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigemptyset(&mask);
    if (rc == 0) rc = posix_spawnattr_setsigdefault(&setup.attr, &defaults);
    if (rc == 0) rc = posix_spawnattr_setsigmask(&setup.attr, &mask);
    if (rc == 0) rc = posix_spawnattr_setflags(&setup.attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    if (rc != 0) return std::unexpected(os_error_text(rc));

    std::vector<char*> argv;
    argv.reserve(command.args.size() + 2);
    argv.push_back(const_cast<char*>(command.program.c_str()));
    for (const auto& arg : command.args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    pid_t pid = -1;
    rc = ::posix_spawnp(&pid, command.program.c_str(), &setup.actions, &setup.attr, argv.data(), environ);
    if (rc != 0) return std::unexpected(os_error_text(rc));
    // The child's ends close here, so end of file arrives when the child is done.
    return Spawned{pid, in ? std::move(in->write) : UniqueFd(), std::move(out->read), std::move(err->read)};
}

// Waits for one child to end, through its pidfd when the kernel offers one.
class ChildExit {
public:
    ChildExit(asio::any_io_executor ex, pid_t pid) : pid_(pid) {
        int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
        if (pidfd >= 0) handle_.emplace(ex, pid, pidfd);
    }

    // The raw wait status, or the failure; cancellation leaves the child alone.
    asio::awaitable<std::tuple<error_code, int>> wait() {
        if (handle_) {
            auto [ec, status] = co_await handle_->async_wait(tuple_awaitable);
            co_return std::tuple{ec, static_cast<int>(status)};
        }
        co_return co_await detail::poll_exit(pid_);
    }

private:
    pid_t pid_;
    std::optional<boost::process::v2::basic_process_handle<asio::any_io_executor>> handle_;
};

asio::awaitable<void> reap(std::unique_ptr<ChildExit> child) { co_await child->wait(); }

// Hands a child that was not waited for to a background reaper, whichever
// way the run ends (time-out, or an exception), so that no zombie remains.
class ReapUnlessWaited {
public:
    ReapUnlessWaited(asio::any_io_executor ex, std::unique_ptr<ChildExit>& child) : ex_(std::move(ex)), child_(child) {}
    ~ReapUnlessWaited() {
        if (waited_ || !child_) return;
        try {
            asio::co_spawn(ex_, reap(std::move(child_)), asio::detached);
        } catch (...) {
        }
    }
    void waited() { waited_ = true; }

private:
    asio::any_io_executor ex_;
    std::unique_ptr<ChildExit>& child_;
    bool waited_ = false;
};

asio::awaitable<void> drain(asio::readable_pipe& pipe, std::string& into, error_code& failure) {
    constexpr std::size_t chunk = 64 * 1024;
    for (;;) {
        std::size_t used = into.size();
        into.resize(used + chunk);
        auto [ec, n] = co_await pipe.async_read_some(asio::buffer(into.data() + used, chunk), tuple_awaitable);
        into.resize(used + n);
        if (ec) {
            if (ec != asio::error::eof) failure = ec;
            co_return;
        }
    }
}

// Writes the whole input; a failed write (the child closed its stdin) just
// ends the writing. Closing our end tells the child the input is complete.
// `input` must outlive the coroutine: it points into the caller's frame.
asio::awaitable<void> feed(asio::writable_pipe& pipe, const std::optional<std::string>& input) {
    if (input && !input->empty()) co_await asio::async_write(pipe, asio::buffer(*input), tuple_awaitable);
    error_code ignored;
    pipe.close(ignored);
}

// `reaped` records that the child's status was collected, so nobody waits on
// its pid again (by then the pid may belong to another child).
asio::awaitable<void> await_exit(ChildExit& child, int& status, error_code& failure, bool& reaped) {
    auto [ec, raw] = co_await child.wait();
    if (ec) {
        failure = ec;
    } else {
        status = raw;
        reaped = true;
    }
}

std::optional<std::chrono::steady_clock::time_point> deadline_after(std::optional<std::chrono::seconds> limit) {
    if (!limit) return std::nullopt;
    using clock = std::chrono::steady_clock;
    auto start = clock::now();
    auto room = std::chrono::duration_cast<std::chrono::seconds>(clock::time_point::max() - start);
    if (*limit >= room) return std::nullopt;  // too large to add: no deadline
    if (*limit <= std::chrono::seconds::zero()) return start;
    return start + *limit;
}

void ignore_sigpipe_once() {
    // A child that stops reading its input must not end this process: writes
    // then fail with EPIPE instead. Children get the default back at spawn.
    static std::once_flag once;
    std::call_once(once, [] { ::signal(SIGPIPE, SIG_IGN); });
}

asio::awaitable<Outcome> run_on_strand(Command command) {
    auto ex = co_await asio::this_coro::executor;
    auto deadline = deadline_after(command.limit);

    auto spawned = spawn(command);
    if (!spawned) {
        Outcome failed = NotStarted{spawned.error()};  // named: see the note in process.hpp
        co_return failed;
    }

    auto child = std::make_unique<ChildExit>(ex, spawned->pid);
    ReapUnlessWaited reaper(ex, child);
    asio::readable_pipe out(ex, spawned->out.release());
    asio::readable_pipe err(ex, spawned->err.release());
    asio::writable_pipe in(ex);
    if (spawned->input.get() >= 0) in.assign(spawned->input.release());

    Exited exited;
    int status = 0;
    error_code out_failure, err_failure, wait_failure;
    bool reaped = false;
    auto io = drain(out, exited.out, out_failure) && drain(err, exited.err, err_failure) &&
              feed(in, command.input) && await_exit(*child, status, wait_failure, reaped);

    if (deadline) {
        asio::steady_timer timer(ex, *deadline);
        auto first = co_await (std::move(io) || timer.async_wait(asio::use_awaitable));
        if (first.index() == 1) {
            error_code ignored;
            out.close(ignored);
            err.close(ignored);
            in.close(ignored);
            if (reaped) reaper.waited();  // exited already; only a descendant held the pipes
            Outcome timed_out = TimedOut{};  // the reaper takes the child over
            co_return timed_out;
        }
    } else {
        co_await std::move(io);
    }

    if (!wait_failure) reaper.waited();
    for (const auto& failure : {wait_failure, out_failure, err_failure}) {
        if (!failure) continue;
        Outcome failed = NotStarted{failure.message()};
        co_return failed;
    }
    if (WIFSIGNALED(status)) {
        exited.signal = WTERMSIG(status);
        exited.core_dumped = WCOREDUMP(status);
    } else {
        exited.code = WEXITSTATUS(status);
    }
    Outcome done = std::move(exited);
    co_return done;
}

}  // namespace

namespace detail {

asio::awaitable<std::tuple<error_code, int>> poll_exit(int pid) {
    asio::steady_timer timer(co_await asio::this_coro::executor);
    auto pause = std::chrono::milliseconds(5);
    for (;;) {
        int status = 0;
        pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) co_return std::tuple{error_code(), status};
        if (done < 0 && errno != EINTR) co_return std::tuple{error_code(errno, boost::system::generic_category()), 0};
        timer.expires_after(pause);
        auto [ec] = co_await timer.async_wait(tuple_awaitable);
        if (ec) co_return std::tuple{ec, 0};
        pause = std::min(pause * 2, std::chrono::milliseconds(200));
    }
}

}  // namespace detail

asio::awaitable<Outcome> run_process(Command command) {
    ignore_sigpipe_once();
    auto ex = co_await asio::this_coro::executor;
    // One strand per child: its pipes, timer and wait never run on two threads at once.
    co_return co_await asio::co_spawn(asio::make_strand(ex), run_on_strand(std::move(command)),
                                      asio::use_awaitable);
}

std::string status_text(const Exited& exited) {
    if (exited.code) return "exit status: " + std::to_string(*exited.code);
    int sig = exited.signal.value_or(0);
    std::string text = "signal: " + std::to_string(sig);
    if (const char* abbrev = ::sigabbrev_np(sig)) text += std::string(" (SIG") + abbrev + ")";
    if (exited.core_dumped) text += " (core dumped)";
    return text;
}

}  // namespace fleet
