// Running the companion for the agent tools: WENDLE_BIN or "wendle", no time
// limit, and any output on stdout counts as the answer.
#pragma once

#include <string>
#include <vector>

#include <boost/asio/awaitable.hpp>
#include <toolport/toolport.hpp>

#include "fleet/process.hpp"

namespace agents {

// WENDLE_BIN as given when set, else "wendle" on PATH.
std::string wendle_program();

// The answer for one outcome of running `program`: trimmed stdout when not
// empty (whatever the exit status), else trimmed stderr as the failure, else
// "no output"; "{program} not runnable: {error}" when it could not run.
toolport::Result<std::string> wendle_answer(const fleet::Outcome& outcome, const std::string& program);

// Runs the companion with the arguments and awaits its end without a time
// limit. The caller's worker thread stays free while the child runs.
boost::asio::awaitable<toolport::Result<std::string>> wendle(std::vector<std::string> args);

}  // namespace agents
