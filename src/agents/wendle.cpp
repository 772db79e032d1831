#include "agents/wendle.hpp"

#include <cstdlib>

#include "fleet/paths.hpp"

namespace agents {

std::string wendle_program() {
    if (const char* bin = std::getenv("WENDLE_BIN")) return bin;
    return "wendle";
}

toolport::Result<std::string> wendle_answer(const fleet::Outcome& outcome, const std::string& program) {
    if (const auto* failed = std::get_if<fleet::NotStarted>(&outcome))
        return std::unexpected(program + " not runnable: " + failed->error);
    // Without a limit the runner cannot time out; should it, there is no output.
    const auto* exited = std::get_if<fleet::Exited>(&outcome);
    if (!exited) return std::unexpected(std::string("no output"));
    if (auto out = toolport::trim(fleet::utf8_lossy(exited->out)); !out.empty()) return out;
    if (auto err = toolport::trim(fleet::utf8_lossy(exited->err)); !err.empty()) return std::unexpected(std::move(err));
    return std::unexpected(std::string("no output"));
}

boost::asio::awaitable<toolport::Result<std::string>> wendle(std::vector<std::string> args) {
    fleet::Command command;
    command.program = wendle_program();
    command.args = std::move(args);
    std::string program = command.program;
    auto outcome = co_await fleet::run_process(std::move(command));
    co_return wendle_answer(outcome, program);
}

}  // namespace agents
