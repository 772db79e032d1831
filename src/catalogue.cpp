#include "catalogue.hpp"

#include "agents/launch.hpp"
#include "agents/sessions.hpp"
#include "fs/tools.hpp"
#include "knowledge/repo.hpp"
#include "knowledge/vault.hpp"
#include "ledger/claims.hpp"
#include "ledger/filing.hpp"
#include "ledger/listing.hpp"
#include "ledger/projects.hpp"

// Each module declares one function per tool; the order of the core list
// below is the order of "tools/list" and of lookup, and is kept here only.

namespace {

std::vector<toolport::Tool> core_tools() {
    std::vector<toolport::Tool> tools;
    // 1-6: the work ledger
    tools.push_back(ledger::tool_project_list());
    tools.push_back(ledger::tool_work_list());
    tools.push_back(ledger::tool_work_file());
    tools.push_back(ledger::tool_work_claim());
    tools.push_back(ledger::tool_work_done());
    tools.push_back(ledger::tool_work_report());
    // 7: sessions
    tools.push_back(agents::tool_sessions());
    // 8-9: the vault
    tools.push_back(knowledge::tool_vault_search());
    tools.push_back(knowledge::tool_vault_read());
    // 10-11: project notes and briefs
    // 12-13: repository reading
    tools.push_back(knowledge::tool_project_tree());
    tools.push_back(knowledge::tool_project_files());
    // 14-15: approved folders
    tools.push_back(fsaccess::tool_fs_read());
    tools.push_back(fsaccess::tool_fs_list());
    // 16-20: research, knowledge search, brainstorms
    // 21-25: media
    // 26-35: schedules and fleet messages
    // 36: agent launch
    tools.push_back(agents::tool_agent_launch());
    // 37-46: chat channels
    // 47-55: the video suite
    // 56-70: GUI automation
    return tools;
}

std::vector<toolport::Tool> trade_tools(bool /*trader*/) { return {}; }

std::vector<toolport::Tool> agent_tools(bool /*agent_send*/) { return {}; }

}  // namespace

std::vector<toolport::Tool> build_catalogue(const CatalogueSwitches& switches) {
    auto tools = core_tools();
    for (auto& tool : trade_tools(switches.trader)) tools.push_back(std::move(tool));
    for (auto& tool : agent_tools(switches.agent_send)) tools.push_back(std::move(tool));
    return tools;
}
