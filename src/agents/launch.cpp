#include "agents/launch.hpp"

#include "fleet/wendle.hpp"

namespace agents {

using toolport::json;
using toolport::ToolOutput;

std::expected<std::vector<std::string>, ToolOutput> launch_args(const json& args) {
    auto cwd = toolport::required_str(args, "cwd");
    if (!cwd) return std::unexpected(cwd.error());
    auto brief = toolport::required_str(args, "brief");
    if (!brief) return std::unexpected(brief.error());
    std::vector<std::string> argv{"launch", "--cwd", *cwd, "--brief", *brief, "--json"};
    // Provider and model go as given: not trimmed, and passed even when empty.
    if (auto provider = toolport::str(args, "provider")) {
        argv.push_back("--provider");
        argv.push_back(*provider);
    }
    if (auto model = toolport::str(args, "model")) {
        argv.push_back("--model");
        argv.push_back(*model);
    }
    return argv;
}

namespace {

boost::asio::awaitable<ToolOutput> launch(json args) {
    auto argv = launch_args(args);
    if (!argv) co_return argv.error();
    auto result = co_await fleet::run_wendle(std::move(*argv), launch_limit_seconds);
    co_return result.output();
}

}  // namespace

toolport::Tool tool_agent_launch() {
    json schema = {
        {"type", "object"},
        {"properties",
         {
             {"cwd", {{"type", "string"}, {"description", "directory the agent works in (absolute)"}}},
             {"brief", {{"type", "string"}}},
             {"provider", {{"type", "string"}, {"description", "claude (default) | glm | qwen | deepseek | vertex | nemo"}}},
             {"model", {{"type", "string"}, {"description", "default: the provider's capable model (opus for claude)"}}},
         }},
        {"required", json::array({"cwd", "brief"})},
    };
    return toolport::Tool(
        "agent_launch",
        "MUTATES + SPENDS: open a wezterm pane and start a REAL agent session with a brief (wendle launch). The "
        "session runs autonomously and bills its provider — confirm the brief and cwd with the user first. "
        "Complements the goal-only work_file(launch) path.",
        std::move(schema), launch);
}

}  // namespace agents
