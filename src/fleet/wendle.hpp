// Running the companion tool `wendle`.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <toolport/toolport.hpp>

#include "fleet/process.hpp"

namespace fleet {

struct RunResult {
    bool failed = false;
    std::string text;
    toolport::ToolOutput output() const;
};

// home/.local/bin/wendle when it is a regular file, else "wendle" on PATH.
std::string wendle_bin();

// The runner's texts for one outcome of running wendle with `args`.
RunResult wendle_result(const Outcome& outcome, const std::vector<std::string>& args, long limit_seconds);

// Runs wendle with the arguments (never through a shell) and the input on its
// stdin (none: /dev/null), bounded by the limit. Never blocks a worker thread.
boost::asio::awaitable<RunResult> run_wendle_io(std::vector<std::string> args, std::optional<std::string> input,
                                                long limit_seconds);
boost::asio::awaitable<RunResult> run_wendle(std::vector<std::string> args, long limit_seconds);

}  // namespace fleet
