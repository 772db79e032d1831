// The work ledger through the real binary: a ledger file in the fleet home,
// project directories outside /tmp, and a real git repository.
#include <cstdlib>
#include <regex>

#include <gtest/gtest.h>

#include "e2e/fixture.hpp"
#include "unit/ledger/ledger_fixture.hpp"

namespace {

using e2e::json;
using namespace ledger_test;

class LedgerE2e : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        server_ = new e2e::Server();
        scratch_ = new ScratchDir();
        ledger_ = server_->fleet_home() / "ledger.db";  // WENDLE_HOME/ledger.db
        fs::create_directories(ledger_.parent_path());
        auto created = ledger::create_companion_ledger(ledger_.string());
        ASSERT_TRUE(created) << created.error();
        exec(ledger_, "INSERT INTO federation_identity VALUES ('node_id', 'studio')");

        repo_ = scratch_->dir("src/garden-shop");
        const std::string git = "git -C '" + repo_.string() + "' -c user.name=t -c user.email=t@e ";
        ASSERT_EQ(std::system((git + "init -q && " + git + "commit -q --allow-empty -m 'seed'").c_str()), 0);
        key_ = dash_key(repo_);
        exec(ledger_, "INSERT INTO sessions VALUES ('s1', " + sql_text(key_) + ", 'Garden', 10), "
                      "('s2', '-tmp-scratch-pad', 'temp', 11), ('s3', " + sql_text(dash_key(scratch_->path() / "build/123")) +
                      ", 'numbered', 12)");
    }
    static void TearDownTestSuite() {
        delete server_;
        delete scratch_;
    }
    static e2e::CallResult call(const std::string& tool, json args) { return server_->call(tool, std::move(args)); }
    static std::string ref_in(const std::string& text) {
        std::smatch match;
        return std::regex_search(text, match, std::regex("FP-[0-9A-F]{8}")) ? match.str() : "";
    }

    static inline e2e::Server* server_ = nullptr;
    static inline ScratchDir* scratch_ = nullptr;
    static inline fs::path ledger_, repo_;
    static inline std::string key_;
};

TEST_F(LedgerE2e, CatalogueStartsWithTheLedgerTools) {
    const json tools = server_->rpc("tools/list")["result"]["tools"];
    ASSERT_GE(tools.size(), 6u);
    const char* names[] = {"project_list", "work_list", "work_file", "work_claim", "work_done", "work_report"};
    for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(tools[i]["name"], names[i]);
    EXPECT_EQ(tools[0]["inputSchema"].dump(), R"({"properties":{},"type":"object"})");
    EXPECT_EQ(tools[2]["inputSchema"]["required"], json::array({"project_key", "kind", "text"}));
}

TEST_F(LedgerE2e, ProjectListShowsResolvedProjectsOnly) {
    auto out = call("project_list", json::object());
    ASSERT_FALSE(out.is_error) << out.text;
    EXPECT_EQ(out.text, json::array({{{"key", key_}, {"name", "Garden"}, {"path", repo_.string()}, {"resolved", true}}})
                            .dump());
}

TEST_F(LedgerE2e, FileListClaimCompleteAndReport) {
    auto first = call("work_file", {{"project_key", "garden-shop"}, {"kind", "goal"}, {"text", "Fix the checkout tests"},
                                    {"criteria", "suite green"}});
    ASSERT_FALSE(first.is_error) << first.text;
    const std::string goal_ref = ref_in(first.text);
    EXPECT_EQ(first.text, "filed goal " + goal_ref);

    auto todo = call("work_file", {{"project_key", key_}, {"kind", "todo"}, {"text", "checkout tests: fix"}});
    ASSERT_FALSE(todo.is_error) << todo.text;
    const std::string todo_ref = ref_in(todo.text);
    EXPECT_EQ(todo.text, "filed todo " + todo_ref + "\nsimilar open: " + goal_ref + " Fix the checkout tests");

    auto launched = call("work_file", {{"project_key", "Garden"}, {"kind", "goal"}, {"text", "Dispatch me"},
                                       {"launch", true}, {"runner", "velmora"}});
    ASSERT_FALSE(launched.is_error) << launched.text;
    const std::string launched_ref = ref_in(launched.text);
    EXPECT_EQ(launched.text, "filed goal " + launched_ref +
                                 "; agent dispatch queued on this node (runner=velmora) — wendled claims it and opens "
                                 "a Claude session in the repo within ~5s (in the app's terminal, or a wezterm pane "
                                 "if the app is closed)");

    auto listed = call("work_list", {{"project_key", "GARDEN-SHOP"}});
    ASSERT_FALSE(listed.is_error) << listed.text;
    EXPECT_EQ(json::parse(listed.text),
              json({{"goals",
                     {{{"criteria", "suite green"}, {"ref", goal_ref}, {"status", "open"}, {"text", "Fix the checkout tests"}},
                      {{"criteria", ""}, {"ref", launched_ref}, {"routed_to", "studio"}, {"status", "open"},
                       {"text", "Dispatch me"}}}},
                    {"todos", {{{"ref", todo_ref}, {"text", "checkout tests: fix"}}}}}));

    auto claimed = json::parse(call("work_claim", {{"ref", goal_ref}}).text);
    EXPECT_EQ(claimed["claimed"], true);
    EXPECT_EQ(claimed["held_by"], "studio");
    EXPECT_EQ(claimed["text"], "Fix the checkout tests");

    auto report = json::parse(call("work_report", {{"ref", goal_ref}, {"commits", true}}).text);
    EXPECT_EQ(report["held_by"], "studio");
    EXPECT_EQ(report["claimed_session"], "studio/mcp");
    EXPECT_FALSE(report.contains("commits_error")) << report.dump();

    // A commit made after the claim shows up in the report.
    const std::string git = "git -C '" + repo_.string() + "' -c user.name=t -c user.email=t@e ";
    const std::string future = "GIT_COMMITTER_DATE=2099-01-01T00:00:00Z GIT_AUTHOR_DATE=2099-01-01T00:00:00Z ";
    ASSERT_EQ(std::system((future + git + "commit -q --allow-empty -m 'checkout fixed'").c_str()), 0);
    report = json::parse(call("work_report", {{"ref", goal_ref}, {"commits", true}}).text);
    ASSERT_TRUE(report.contains("commits")) << report.dump();
    EXPECT_TRUE(report["commits"][0].get<std::string>().ends_with(" checkout fixed"));

    auto done = call("work_done", {{"ref", goal_ref}, {"note", "suite green in CI run 42"}});
    ASSERT_FALSE(done.is_error) << done.text;
    EXPECT_EQ(json::parse(done.text)["status"], "met");
    report = json::parse(call("work_report", {{"ref", goal_ref}}).text);
    EXPECT_EQ(report["closed"], true);
    EXPECT_EQ(report["note"], "suite green in CI run 42");
    EXPECT_EQ(report["evidence"], "suite green in CI run 42");
    EXPECT_EQ(report["shipped_by"], "studio");

    EXPECT_EQ(call("work_claim", {{"ref", goal_ref}}).text, goal_ref + " is already claimed by studio");
    EXPECT_EQ(json::parse(call("work_done", {{"ref", todo_ref}}).text)["kind"], "todo");
    EXPECT_EQ(json::parse(call("work_list", {{"project_key", key_}}).text)["todos"], json::array());
}

TEST_F(LedgerE2e, Refusals) {
    exec(ledger_, "INSERT INTO project_goals (id, project_key, text, done, status, sort, created_at, claimed_by_node) "
                  "VALUES ('ABCDEF01-0000-4000-8000-000000000001', '-k', 'held', 0, 'in_progress', 0, 1, 'peer')");
    const std::string required = "project_key, text, and kind (goal|todo) are required";
    struct Case {
        std::string tool;
        json args;
        std::string text;
    };
    const Case cases[] = {
        {"work_file", json::object(), required},
        {"work_file", {{"project_key", key_}, {"kind", "Goal"}, {"text", "x"}}, required},
        {"work_file", {{"project_key", "nowhere"}, {"kind", "goal"}, {"text", "x"}},
         "no project matches 'nowhere' — see project_list"},
        {"work_file", {{"project_key", key_}, {"kind", "todo"}, {"text", "x"}, {"launch", true}},
         "launch requires kind=goal — todos carry no dispatch routing; file the work as a goal (criteria recommended)"},
        {"work_file", {{"project_key", key_}, {"kind", "goal"}, {"text", "x"}, {"launch", true}, {"runner", "tmux"}},
         "runner 'tmux' is not a known terminal — expected auto, wezterm, or velmora"},
        {"work_file", {{"project_key", "-k"}, {"kind", "goal"}, {"text", "x"}, {"launch", true}},
         "cannot dispatch: no project named '-k' with a resolvable path — see project_list"},
        {"work_list", {{"project_key", nullptr}}, "project_key is required"},
        {"work_claim", json::object(), "ref is required"},
        {"work_claim", {{"ref", "FP-ABCDEF01"}}, "FP-ABCDEF01 is already claimed by peer"},
        {"work_claim", {{"ref", "FP-00000000"}}, "no open goal matches 'FP-00000000'"},
        {"work_done", {{"ref", 1}}, "ref is required"},
        {"work_done", {{"ref", "FP-00000000"}}, "no open goal/todo matches 'FP-00000000'"},
        {"work_report", {{"ref", "FP-00000000"}}, "no goal or todo matches 'FP-00000000'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tool + " " + c.args.dump());
        auto out = call(c.tool, c.args);
        EXPECT_TRUE(out.is_error);
        EXPECT_EQ(out.text, c.text);
    }
    EXPECT_EQ(scalar(ledger_, "SELECT count(*) FROM project_goals WHERE text='x'"), "0");
}

TEST(LedgerE2eStore, EveryToolReportsAnUnopenableLedger) {
    e2e::TempDir dir;
    e2e::Server::Options options;
    options.env["WENDLE_LEDGER"] = (dir.path() / "missing/ledger.db").string();
    e2e::Server server(options);
    const std::pair<std::string, json> calls[] = {
        {"project_list", json::object()},
        {"work_list", {{"project_key", "-k"}}},
        {"work_file", {{"project_key", "-k"}, {"kind", "todo"}, {"text", "x"}}},
        {"work_claim", {{"ref", "FP-1"}}},
        {"work_done", {{"ref", "FP-1"}}},
        {"work_report", {{"ref", "FP-1"}}},
    };
    for (const auto& [tool, args] : calls) {
        SCOPED_TRACE(tool);
        auto out = server.call(tool, args);
        EXPECT_TRUE(out.is_error);
        EXPECT_EQ(out.text, "unable to open database file");
    }
}

}  // namespace
