// sessions: the agent sessions the companion knows across the fleet.
#pragma once

#include <string>
#include <vector>

#include <toolport/toolport.hpp>

namespace agents {

inline constexpr long sessions_limit_seconds = 20;

// The companion's argument list for the call's arguments.
std::vector<std::string> sessions_args(const toolport::json& args);

toolport::Tool tool_sessions();

}  // namespace agents
