// The one place that starts child processes.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <tuple>
#include <variant>
#include <vector>

#include <boost/asio/awaitable.hpp>
#include <boost/system/error_code.hpp>

namespace fleet {

// GCC 12 miscompiles a brace-initialised aggregate built inside a co_await
// expression (`co_await run_process(Command{...})` frees a string twice), and
// rejects braced string lists there: name the Command (or the argument
// vector) in a statement of its own, then co_await with std::move of it.
struct Command {
    std::string program;              // a path, or a bare name found on PATH
    std::vector<std::string> args{};  // passed one by one, no shell
    std::optional<std::string> input{};  // written to stdin; none: stdin is /dev/null
    std::optional<std::chrono::seconds> limit{};  // none: wait without a deadline
};

struct Exited {
    std::optional<int> code{};    // the exit code, or none when a signal ended it
    std::optional<int> signal{};  // the terminating signal
    bool core_dumped = false;
    std::string out{};
    std::string err{};
};
struct TimedOut {};
struct NotStarted {
    std::string error;  // the operating system's text
};
using Outcome = std::variant<Exited, TimedOut, NotStarted>;

// Starts the program, writes the input while draining both outputs, and waits
// for the exit or the deadline. On a time-out it answers at once and leaves
// the child running; the child is reaped in the background.
boost::asio::awaitable<Outcome> run_process(Command command);

namespace detail {
// Waits for a child by polling waitpid, for kernels without pidfd_open. Gives
// the raw wait status, or the failure (cancellation included).
boost::asio::awaitable<std::tuple<boost::system::error_code, int>> poll_exit(int pid);
}  // namespace detail

// "exit status: N" or "signal: N (SIGNAME)" with " (core dumped)".
std::string status_text(const Exited& exited);

}  // namespace fleet
