#include "fleet/wendle.hpp"

#include <system_error>

#include "fleet/paths.hpp"

namespace fleet {

toolport::ToolOutput RunResult::output() const {
    return failed ? toolport::ToolOutput::failure(text) : toolport::ToolOutput::success(text);
}

std::string wendle_bin() {
    fs::path installed = home_dir().value_or(fs::path()) / ".local" / "bin" / "wendle";
    std::error_code ec;
    if (fs::is_regular_file(installed, ec)) return installed.string();
    return "wendle";
}

namespace {

std::string joined(const std::vector<std::string>& args) {
    std::string text;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (i > 0) text += ' ';
        text += args[i];
    }
    return text;
}

}  // namespace

RunResult wendle_result(const Outcome& outcome, const std::vector<std::string>& args, long limit_seconds) {
    if (std::holds_alternative<TimedOut>(outcome)) {
        std::string first = args.empty() ? std::string() : args.front();
        return {true, "wendle " + first + " timed out after " + std::to_string(limit_seconds) + "s"};
    }
    if (const auto* failed = std::get_if<NotStarted>(&outcome)) return {true, "spawn wendle: " + failed->error};
    const auto& exited = std::get<Exited>(outcome);
    if (exited.code == 0) return {false, toolport::trim(utf8_lossy(exited.out))};
    if (auto err = toolport::trim(utf8_lossy(exited.err)); !err.empty()) return {true, std::move(err)};
    return {true, "wendle " + joined(args) + " exited " + status_text(exited)};
}

boost::asio::awaitable<RunResult> run_wendle_io(std::vector<std::string> args, std::optional<std::string> input,
                                                long limit_seconds) {
    Command command;
    command.program = wendle_bin();
    command.args = args;
    command.input = std::move(input);
    command.limit = std::chrono::seconds(limit_seconds);
    auto outcome = co_await run_process(std::move(command));
    co_return wendle_result(outcome, args, limit_seconds);
}

boost::asio::awaitable<RunResult> run_wendle(std::vector<std::string> args, long limit_seconds) {
    std::optional<std::string> no_input;
    RunResult result = co_await run_wendle_io(std::move(args), std::move(no_input), limit_seconds);
    co_return result;
}

}  // namespace fleet
