// Running the companion tool `wendle`.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <toolport/toolport.hpp>

namespace fleet {

struct RunResult {
    bool failed = false;
    std::string text;
    toolport::ToolOutput output() const;
};

// home/.local/bin/wendle when it is a regular file, else "wendle" on PATH.
std::string wendle_bin();

boost::asio::awaitable<RunResult> run_wendle_io(std::vector<std::string> args, std::optional<std::string> input,
                                                long limit_seconds);
boost::asio::awaitable<RunResult> run_wendle(std::vector<std::string> args, long limit_seconds);

}  // namespace fleet
