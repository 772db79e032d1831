// The tool catalogue, in its fixed order.
#pragma once

#include <vector>

#include <toolport/toolport.hpp>

struct CatalogueSwitches {
    bool trader = false;      // WENDLE_TRADE_MCP_ROLE is exactly "trader"
    bool agent_send = false;  // WENDLE_MCP_AGENT_SEND is exactly "on"
};

// Core tools in their fixed order, then the trade tools, then the agent tools.
std::vector<toolport::Tool> build_catalogue(const CatalogueSwitches& switches);
