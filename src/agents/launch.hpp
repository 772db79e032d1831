// agent_launch: starts a new agent session through the companion.
#pragma once

#include <expected>
#include <string>
#include <vector>

#include <toolport/toolport.hpp>

namespace agents {

inline constexpr long launch_limit_seconds = 90;

// The companion's argument list for the call's arguments, or the refusal.
std::expected<std::vector<std::string>, toolport::ToolOutput> launch_args(const toolport::json& args);

toolport::Tool tool_agent_launch();

}  // namespace agents
