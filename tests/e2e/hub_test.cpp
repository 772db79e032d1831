// The endpoint through the real binary: protocol edge cases, sessions and the
// bearer layer.
#include <gtest/gtest.h>

#include "e2e/fixture.hpp"

using e2e::json;

namespace {

class Hub : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server_ = new e2e::Server(); }
    static void TearDownTestSuite() { delete server_; }
    static e2e::Server& server() { return *server_; }

    std::string initialize(json params = {{"protocolVersion", "2025-06-18"}}) {
        auto reply = server().post(json({{"jsonrpc", "2.0"}, {"id", 0}, {"method", "initialize"}, {"params", params}}).dump());
        EXPECT_EQ(reply.status, 200);
        return reply.headers["mcp-session-id"];
    }

private:
    static inline e2e::Server* server_ = nullptr;
};

std::string ping_with(const std::string& id) {
    return R"({"jsonrpc":"2.0","id":)" + id + R"(,"method":"ping"})";
}

}  // namespace

TEST_F(Hub, RepliesByteForByte) {
    struct Case {
        std::string body;
        int status;
        std::string reply;
    };
    const Case cases[] = {
        {ping_with("1"), 200, R"({"id":1,"jsonrpc":"2.0","result":{}})"},
        {ping_with("\"abc\""), 200, R"({"id":"abc","jsonrpc":"2.0","result":{}})"},
        {ping_with("null"), 200, R"({"id":null,"jsonrpc":"2.0","result":{}})"},
        {ping_with("{\"z\":1,\"a\":[2]}"), 200, R"({"id":{"a":[2],"z":1},"jsonrpc":"2.0","result":{}})"},
        {"[]", 400, R"({"error":{"code":-32600,"message":"batch requests are not supported"},"id":null,"jsonrpc":"2.0"})"},
        {"[" + ping_with("1") + "]", 400,
         R"({"error":{"code":-32600,"message":"batch requests are not supported"},"id":null,"jsonrpc":"2.0"})"},
        {R"({"id":1})", 200, R"({"error":{"code":-32601,"message":"method '' not found"},"id":1,"jsonrpc":"2.0"})"},
        {R"({"id":2,"method":"Ping"})", 200,
         R"({"error":{"code":-32601,"message":"method 'Ping' not found"},"id":2,"jsonrpc":"2.0"})"},
        {R"({"id":3,"method":"tools/call","params":{"name":"no_such_tool"}})", 200,
         R"({"error":{"code":-32602,"message":"unknown tool 'no_such_tool'"},"id":3,"jsonrpc":"2.0"})"},
        {R"({"id":4,"method":"prompts/list"})", 200, R"({"id":4,"jsonrpc":"2.0","result":{"prompts":[]}})"},
        {R"({"id":5,"method":"resources/list"})", 200, R"({"id":5,"jsonrpc":"2.0","result":{"resources":[]}})"},
        // arguments absent or null reach the tool, which refuses them as a tool failure
        {R"({"id":6,"method":"tools/call","params":{"name":"vault_read"}})", 200,
         R"({"id":6,"jsonrpc":"2.0","result":{"content":[{"text":"path is required","type":"text"}],"isError":true}})"},
        {R"({"id":7,"method":"tools/call","params":{"arguments":null,"name":"vault_read"}})", 200,
         R"({"id":7,"jsonrpc":"2.0","result":{"content":[{"text":"path is required","type":"text"}],"isError":true}})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        auto reply = server().post(c.body);
        EXPECT_EQ(reply.status, c.status);
        EXPECT_EQ(reply.body, c.reply);
        EXPECT_EQ(reply.headers["content-type"], "application/json");
        EXPECT_EQ(reply.headers.count("mcp-session-id"), 0u);
    }
}

TEST_F(Hub, UnreadableBodies) {
    for (std::string body : {std::string("{"), std::string("1E400"), std::string(100000, '['),
                             std::string("{\"id\":1,\"method\":\"ping\"} trailing")}) {
        SCOPED_TRACE(body.substr(0, 40));
        auto reply = server().post(body);
        EXPECT_EQ(reply.status, 400);
        json error = reply.json_body();
        EXPECT_EQ(error["error"]["code"], -32700);
        EXPECT_TRUE(error["error"]["message"].get<std::string>().starts_with("parse error: "));
        EXPECT_EQ(error["id"], nullptr);
    }
    auto not_utf8 = server().post("{\"id\":1,\"method\":\"ping\",\"x\":\"\xff\"}");
    EXPECT_EQ(not_utf8.status, 400);
    auto too_big = server().post(std::string(2 * 1024 * 1024 + 1, ' '));
    EXPECT_EQ(too_big.status, 413);
    auto at_limit = server().post(ping_with("9") + std::string(2 * 1024 * 1024 - ping_with("9").size(), ' '));
    EXPECT_EQ(at_limit.status, 200);
    // Still serving after all of that.
    EXPECT_EQ(server().post(ping_with("1")).status, 200);
}

TEST_F(Hub, NonObjectMessageIsANotification) {
    for (const char* body : {"3", "\"ping\"", "true", "null"}) {
        SCOPED_TRACE(body);
        auto reply = server().post(body);
        EXPECT_EQ(reply.status, 202);
        EXPECT_EQ(reply.body, "");
        EXPECT_EQ(reply.headers.count("content-type"), 0u);
    }
}

// The initialize instructions, as clients must see them.
const std::string expected_instructions =
    "velmora's shared fleet surface (mirrors fernpost's hub per DATA-SHAPE.md): project_list, work_list, "
    "work_file, work_claim — same tool shapes so a client works against either machine. work_report "
    "closes the loop work_list can't: it fetches a launched goal's OUTCOME by ref — the closing agent's "
    "assessment note and evidence once met, status + who holds it while still open. vault_search + "
    "vault_read expose the shared Second Brain (~/.wendle/vault); paths are vault-relative and resolve on "
    "either hub. Claims/files sync over the federation wire. Mac-local extras: project_note/project_brief "
    "write and read a project's maintained brief; project_tree + project_files read the REAL repo (list "
    "files, then batch-fetch — current truth beats stale memory); fs_read/fs_list read files OUTSIDE the "
    "repo and research trees (scratchpads, var dirs, ad-hoc drops) and serve ONLY folders the operator "
    "pre-approved in ~/.wendle/config/fs-allow.json — nothing is declared by default, so an undeclared "
    "path is refused, read-only, every call audit-logged; research_read/research_save open the shared "
    "research area (daily digests, reconciled findings), and knowledge_search is how you FIND any of that "
    "knowledge when you cannot name it — ranked fuzzy text search over every project brief, progress log, "
    "plan and research topic, where project_brief/research_read need a slug you already know; "
    "vexa_generate makes media on this machine (prompt in → saved gallery path out); "
    "whatsapp_send/whatsapp_recent are the operator's PERSONAL WhatsApp number (paired Web session) — "
    "recipients see an ordinary message from the operator, so send only what they asked for; kinemat_* is "
    "GUI perceive+act via kinemat — perceive (check/apps/read/snapshot/screenshot/wait), act "
    "(click/type/key/press/scroll/drag/hover), one-shot chains (run), and kinemat_dom to drive+debug a "
    "REAL browser by live DOM (list/map/find/click over CDP — what a headless fetch misses); every act is "
    "gated by the operator's Secure-Enclave arm grant (first act fires Touch ID on their screen; a gate "
    "timeout means nobody approved).";

TEST_F(Hub, InitializeOpensSessions) {
    auto reply = server().post(R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"2025-03-26"}})");
    json body = reply.json_body();
    EXPECT_EQ(body["result"]["protocolVersion"], "2025-03-26");
    EXPECT_EQ(body["result"]["capabilities"], json({{"tools", json::object()}}));
    EXPECT_EQ(body["result"]["serverInfo"], json({{"name", "velmora"}, {"version", "0.1.0"}}));
    EXPECT_EQ(body["result"]["instructions"], expected_instructions);
    const std::string first = reply.headers["mcp-session-id"];
    ASSERT_EQ(first.size(), 36u);

    auto bare = server().post(R"({"method":"initialize"})");  // no params, no id, no clientInfo
    EXPECT_EQ(bare.status, 200);
    EXPECT_EQ(bare.json_body()["id"], nullptr);
    EXPECT_EQ(bare.json_body()["result"]["protocolVersion"], "2025-06-18");
    const std::string second = bare.headers["mcp-session-id"];
    EXPECT_NE(first, second);

    // Both sessions live; closing one leaves the other working.
    auto ping = [&](const std::string& id) { return server().post(ping_with("1"), {{"mcp-session-id", id}}).status; };
    EXPECT_EQ(ping(first), 200);
    EXPECT_EQ(ping(second), 200);
    EXPECT_EQ(server().request("DELETE", "/mcp", "", {{"mcp-session-id", first}}).status, 204);
    EXPECT_EQ(server().request("DELETE", "/mcp", "", {{"mcp-session-id", first}}).status, 404);
    EXPECT_EQ(server().request("DELETE", "/mcp", "").status, 404);
    EXPECT_EQ(ping(first), 404);
    EXPECT_EQ(ping(second), 200);
    EXPECT_EQ(server().post(R"({"method":"notifications/initialized"})", {{"mcp-session-id", first}}).status, 404);
    EXPECT_EQ(server().post(R"({"method":"notifications/initialized"})", {{"mcp-session-id", second}}).status, 202);
    EXPECT_EQ(server().post(R"({"method":"notifications/initialized"})").status, 202);
    // initialize with a dead session id still opens a new one
    auto again = server().post(R"({"id":1,"method":"initialize"})", {{"mcp-session-id", first}});
    EXPECT_EQ(again.status, 200);
    EXPECT_NE(again.headers["mcp-session-id"], first);
}

TEST_F(Hub, ToolsListAndCallShapes) {
    json list = server().rpc("tools/list");
    ASSERT_TRUE(list["result"]["tools"].is_array());
    EXPECT_FALSE(list["result"].contains("nextCursor"));
    for (const auto& tool : list["result"]["tools"]) {
        EXPECT_EQ(tool.size(), 3u);
        EXPECT_EQ(tool["inputSchema"]["type"], "object");
    }
}

TEST_F(Hub, MethodsAndPaths) {
    struct Case {
        std::string method, target;
        bool token;
        int status;
    };
    const Case cases[] = {
        {"GET", "/mcp", true, 405},     {"PUT", "/mcp", true, 405},      {"OPTIONS", "/mcp", true, 405},
        {"GET", "/mcp", false, 401},    {"POST", "/mcp", false, 401},    {"DELETE", "/mcp", false, 401},
        {"GET", "/other", false, 401},  {"GET", "/other", true, 404},    {"POST", "/", true, 404},
        {"POST", "/mcp?x=1", true, 200},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.method + " " + c.target);
        auto reply = server().request(c.method, c.target, c.method == "POST" ? ping_with("1") : "", {}, c.token);
        EXPECT_EQ(reply.status, c.status);
        if (c.status != 200) {
            EXPECT_EQ(reply.body, "");
        }
        if (c.status == 401) {
            EXPECT_EQ(reply.headers.count("www-authenticate"), 0u);
        }
    }
}

TEST_F(Hub, BearerHeaderVariants) {
    const std::string good = e2e::token;
    const std::pair<std::string, int> cases[] = {
        {"Bearer " + good, 200},         {"Bearer  " + good, 401},
        {"bearer " + good, 401},         {"Bearer " + good.substr(1) + "x", 401},
        {"Bearer " + good + "x", 401},   {"Bearer", 401},
    };
    for (const auto& [value, status] : cases) {
        SCOPED_TRACE(value);
        auto reply = e2e::http_request(server().port(), "POST", "/mcp", ping_with("1"), {{"authorization", value}});
        EXPECT_EQ(reply.status, status);
    }
}
