// Start-up: refusals, exit statuses and the switches of the catalogue.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>

#include "e2e/fixture.hpp"

using e2e::json;

namespace {

std::string refusal(const std::string& reason) {
    return "velmora-mcp: refusing to start — VELMORA_MCP_BEARER " + reason +
           ".\nThis hub is reachable from outside this machine, so it will not serve with a guessable token.\n"
           "The token lives in ~/.wendle/config/toolport.env; if that file is missing or unreadable the launchd "
           "job sources nothing and lands here.\nGenerate one with:  openssl rand -hex 32\n";
}

std::vector<std::string> tool_names(const e2e::Server& server) {
    std::vector<std::string> names;
    const json list = server.rpc("tools/list");
    for (const auto& tool : list["result"]["tools"]) names.push_back(tool["name"]);
    return names;
}

}  // namespace

TEST(Startup, BearerRefusals) {
    struct Case {
        std::optional<std::string> token;
        std::string reason;
    };
    const Case cases[] = {
        {std::nullopt, "is not set"},
        {"", "is set but empty"},
        {"   ", "is set but empty"},
        {"\t\n", "is set but empty"},
        {"velmora-dev-token", "is set to the old built-in default, which is public knowledge"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        // The refusal comes before the address is looked at.
        auto exit = e2e::run_to_exit({{"VELMORA_MCP_BEARER", c.token}, {"VELMORA_MCP_ADDR", "not an address"}});
        EXPECT_EQ(exit.status, 78);
        EXPECT_EQ(exit.err, refusal(c.reason));
    }
}

TEST(Startup, BadAddresses) {
    for (const char* addr : {"localhost:9611", "127.0.0.1", "127.0.0.1:99999", "::1:80", "[127.0.0.1]:80", ""}) {
        SCOPED_TRACE(addr);
        auto exit = e2e::run_to_exit({{"VELMORA_MCP_ADDR", addr}});
        EXPECT_EQ(exit.status, 1);
        EXPECT_EQ(exit.err, "velmora-mcp: bad addr " + std::string(addr) + ": invalid socket address syntax\n");
    }
}

TEST(Startup, ListenerFailureAfterTheServingLine) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(fd, 1), 0);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    const std::string taken = "127.0.0.1:" + std::to_string(ntohs(addr.sin_port));

    auto exit = e2e::run_to_exit({{"VELMORA_MCP_ADDR", taken}});
    ::close(fd);
    EXPECT_EQ(exit.status, 1);
    EXPECT_EQ(exit.err, "velmora-mcp serving on http://" + taken + "/mcp\nvelmora-mcp: Address already in use\n");
}

TEST(Startup, TokenIsUsedExactlyAsSet) {
    e2e::Server server({{{"VELMORA_MCP_BEARER", std::string(e2e::token) + " "}}});
    EXPECT_NE(server.stderr_text().find("velmora-mcp serving on http://127.0.0.1:"), std::string::npos);
    auto ping = [&](const std::string& header) {
        return e2e::http_request(server.port(), "POST", "/mcp", R"({"id":1,"method":"ping"})",
                                 {{"Authorization", header}})
            .status;
    };
    EXPECT_EQ(ping(std::string("Bearer ") + e2e::token), 401);
}

// Every tool the server may carry, in catalogue order: the core tools, the
// trade tools, the agent tools.
const std::vector<std::string> catalogue_order = {
    "project_list", "work_list", "work_file", "work_claim", "work_done", "work_report", "sessions",
    "vault_search", "vault_read", "project_note", "project_brief", "project_tree", "project_files", "fs_read",
    "fs_list", "research_read", "research_save", "knowledge_search", "brainstorm_new", "brainstorm_grow",
    "vexa_generate", "qwencloud_image", "qwencloud_video", "qwencloud_speech", "qwencloud_task", "cron_list",
    "cron_show", "cron_runs", "cron_add", "cron_set", "cron_pause", "cron_resume", "cron_rm", "fleet_msg",
    "fleet_inbox", "agent_launch", "whatsapp_send", "whatsapp_recent", "telegram_send", "telegram_recent",
    "dingtalk_send", "dingtalk_recent", "lark_send", "lark_recent", "wecom_send", "wecom_recent", "lumafin_status",
    "lumafin_project_save", "lumafin_project_list", "lumafin_project_open", "lumafin_render", "lumafin_compose",
    "lumafin_edit", "lumafin_gallery", "lumafin_import", "kinemat_check", "kinemat_apps", "kinemat_read",
    "kinemat_snapshot", "kinemat_screenshot", "kinemat_click", "kinemat_type", "kinemat_key", "kinemat_press",
    "kinemat_run", "kinemat_dom", "kinemat_scroll", "kinemat_drag", "kinemat_hover", "kinemat_wait",
    "trade_report", "trade_account", "trade_rules", "trade_contract", "trade_diary_read", "trade_check",
    "trade_ask", "trade_reconcile", "trade_close", "trade_diary_write", "agent_roster", "agent_send"};

TEST(Startup, CatalogueKeepsItsFixedOrder) {
    e2e::Server server;
    const auto names = tool_names(server);
    ASSERT_FALSE(names.empty());
    auto next = catalogue_order.begin();
    for (const auto& name : names) {
        SCOPED_TRACE(name);
        next = std::find(next, catalogue_order.end(), name);
        ASSERT_NE(next, catalogue_order.end()) << "unknown or out of order";
        ++next;
    }
}

TEST(Startup, SwitchesNeedExactValues) {
    // Values that look right but are not exact enable nothing.
    e2e::Server near_misses({{{"WENDLE_TRADE_MCP_ROLE", "Trader"}, {"WENDLE_MCP_AGENT_SEND", "ON"}}});
    e2e::Server plain;
    EXPECT_EQ(tool_names(near_misses), tool_names(plain));
    e2e::Server trailing({{{"WENDLE_TRADE_MCP_ROLE", "trader "}, {"WENDLE_MCP_AGENT_SEND", "1"}}});
    EXPECT_EQ(tool_names(trailing), tool_names(plain));
}
