#include "agents/sessions.hpp"

#include "fleet/wendle.hpp"

namespace agents {

using toolport::json;
using toolport::ToolOutput;

std::vector<std::string> sessions_args(const json& args) {
    std::vector<std::string> argv{"sessions"};
    if (toolport::flag(args, "all")) argv.push_back("--all");
    argv.push_back("--json");
    return argv;
}

namespace {

boost::asio::awaitable<ToolOutput> sessions(json args) {
    auto argv = sessions_args(args);
    auto result = co_await fleet::run_wendle(std::move(argv), sessions_limit_seconds);
    co_return result.output();
}

}  // namespace

toolport::Tool tool_sessions() {
    json schema = {
        {"type", "object"},
        {"properties", {{"all", {{"type", "boolean"}, {"description", "include stale/exited sessions"}}}}},
    };
    return toolport::Tool(
        "sessions",
        "Live agent sessions across the fleet: [{node, name, project, cwd, status: idle|busy, pid, title, ...}]. The "
        "dispatch-observability surface — after filing work with launch:true, a busy session in that project confirms "
        "the agent is alive and working. Set all:true to include stale/exited sessions.",
        std::move(schema), sessions);
}

}  // namespace agents
