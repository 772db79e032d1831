// Filing goals and todos: similarity tokens and scores, the near-duplicate
// warning, the exact values written and the handler's checks.
#include <regex>

#include <gtest/gtest.h>

#include "fleet/paths.hpp"
#include "ledger/filing.hpp"
#include "ledger/refs.hpp"
#include "unit/ledger/ledger_fixture.hpp"

namespace {

using namespace ledger_test;
using Tokens = std::vector<std::string>;

TEST(LedgerFiling, SimilarityTokens) {
    const std::pair<std::string, Tokens> cases[] = {
        {"Fix login tests", {"fix", "login", "test"}},
        {"fix the login test", {"fix", "login", "test"}},
        {"others", {"other"}},  // the stop-word test comes before the plural fold
        {"other", {}},
        {"does", {}},           // a stop word, never "doe"
        {"class bus gas", {"bus", "class", "gas"}},
        {"tests TESTS Tests", {"test"}},
        {"ab cd ef", {}},
        {"naïve café", {"caf"}},  // non-ASCII characters separate words
        {"Über-CACHE_v2", {"ber", "cache"}},
        {"the and for with without", {}},
        {"", {}},
    };
    for (const auto& [text, tokens] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(ledger::similarity_tokens(text), tokens);
    }
}

TEST(LedgerFiling, SimilarityScores) {
    const auto set = [](int from, int count) {
        Tokens tokens;
        for (int i = from; i < from + count; ++i) tokens.push_back("t" + std::to_string(100 + i));
        return tokens;
    };
    struct Case {
        const char* what;
        Tokens a, b;
        double score;
    };
    const Case cases[] = {
        {"same set", set(0, 3), set(0, 3), 1.0},
        {"4 shared of 4 and 20: overlap coefficient", set(0, 4), set(0, 20), 1.0},
        {"3 shared of 3 and 10: Jaccard only", set(0, 3), set(0, 10), 0.3},
        {"2 shared of 2 and 3", set(0, 2), set(0, 3), 2.0 / 3.0},
        {"1 shared of 1 and 2", set(0, 1), set(0, 2), 0.5},
        {"4 shared of 8 and 8", set(0, 8), set(4, 8), 0.5},
        {"nothing shared", set(0, 3), set(3, 3), 0.0},
        {"empty side", {}, set(0, 3), 0.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_DOUBLE_EQ(ledger::similarity(c.a, c.b), c.score);
    }
}

TEST(LedgerFiling, ItemHeads) {
    const std::pair<std::string, std::string> cases[] = {
        {std::string(70, 'a'), std::string(60, 'a')},
        {"line one\nline two\r\n", "line one line two"},
        {"  leading kept, trailing dropped \t ", "  leading kept, trailing dropped"},
        {std::string(59, 'x') + "yz", std::string(59, 'x') + "y"},
    };
    for (const auto& [text, head] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(ledger::item_head(text), head);
    }
    std::string accents;
    for (int i = 0; i < 70; ++i) accents += "é";
    EXPECT_EQ(ledger::item_head(accents), accents.substr(0, 120));  // 60 characters, not bytes
}

class LedgerWorkFile : public LedgerTest {
protected:
    ledger::Filed file(const std::string& kind, const std::string& text, bool launch = false,
                       const std::string& runner = "auto", const std::string& key = "-k") {
        auto filed = ledger::work_file({key, kind, text, "", launch, runner});
        EXPECT_TRUE(filed) << filed.error();
        return filed.value_or(ledger::Filed{});
    }
    std::string id_of(const std::string& table, const std::string& ref) {
        return scalar(ledger_, "SELECT id FROM " + table + " WHERE replace(id,'-','') LIKE '" + ref.substr(3) + "%'");
    }
};

TEST_F(LedgerWorkFile, GoalRowsHoldTheExactValues) {
    node("studio");
    const double before = fleet::now().seconds;
    ledger::FileRequest request{"-k", "goal", "Ship the thing", "tests pass", true, "auto"};
    auto filed = ledger::work_file(request);
    ASSERT_TRUE(filed) << filed.error();
    const std::string id = id_of("project_goals", filed->ref);
    EXPECT_TRUE(std::regex_match(id, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}")))
        << id;
    EXPECT_EQ(filed->ref, ledger::work_ref(id));
    EXPECT_EQ(goal_column(id, "project_key || '|' || text || '|' || done || '|' || status || '|' || sort"),
              "-k|Ship the thing|0|open|0");
    EXPECT_EQ(goal_column(id, "acceptance_criteria || '|' || origin_host || '|' || target_host || '|' || runner"),
              "tests pass|studio|studio|");  // "auto" is stored as the empty runner
    EXPECT_EQ(goal_column(id, "typeof(created_at) || typeof(updated_at) || (created_at = updated_at)"), "realreal1");
    EXPECT_GE(std::stod(goal_column(id, "created_at")), std::floor(before));

    struct Case {
        bool launch;
        std::string runner, target, stored;
    };
    const Case cases[] = {{true, "velmora", "studio", "velmora"}, {false, "wezterm", "", ""}, {false, "bogus", "", ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.runner);
        auto other = ledger::work_file({"-k", "goal", "Another " + c.runner, "", c.launch, c.runner});
        ASSERT_TRUE(other) << other.error();
        const std::string other_id = id_of("project_goals", other->ref);
        EXPECT_EQ(goal_column(other_id, "acceptance_criteria || '|' || target_host || '|' || runner"),
                  "|" + c.target + "|" + c.stored);
    }
}

TEST_F(LedgerWorkFile, TodoRowsHoldTheExactValues) {
    const std::string id = id_of("project_todos", file("todo", "Write docs").ref);
    EXPECT_EQ(todo_column(id, "project_key || '|' || text || '|' || status || '|' || source || '|' || sort || '|' || "
                              "origin_host"),
              "-k|Write docs|open|mcp|0|mac-node");
    EXPECT_EQ(todo_column(id, "typeof(created_at) || '|' || typeof(updated_at)"), "real|text");
    EXPECT_TRUE(std::regex_match(todo_column(id, "updated_at"),
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)")));
}

TEST_F(LedgerWorkFile, WarnsOfSimilarOpenWorkBestFirst) {
    goal("A0000001-0000-4000-8000-000000000001", "-k", "Fix login tests on the CI server");  // 3 of 4: 0.75
    todo("B0000001-0000-4000-8000-000000000001", "-k", "fix the login test");           // 3 of 3: 1.0
    goal("A0000002-0000-4000-8000-000000000001", "-k", "Fix login tests\nquickly");     // 3 of 4: 0.75
    todo("B0000002-0000-4000-8000-000000000001", "-k", "login tests fixed by someone"); // 2 of 5: 0.4
    goal("A0000003-0000-4000-8000-000000000001", "-k", "fix login test");
    goal("A0000004-0000-4000-8000-000000000001", "-k", "fix login test again");
    exec(ledger_, "UPDATE project_goals SET done=1 WHERE id LIKE 'A0000003%'");  // in_progress but done: closed
    exec(ledger_, "UPDATE project_goals SET status='in_progress' WHERE id LIKE 'A0000003%'");
    exec(ledger_, "UPDATE project_goals SET status='met' WHERE id LIKE 'A0000004%'");
    todo("B0000003-0000-4000-8000-000000000001", "-k", "fix login test", ", completed_at", ", 2");
    exec(ledger_, "UPDATE project_todos SET status='done' WHERE id LIKE 'B0000003%'");
    goal("A0000005-0000-4000-8000-000000000001", "-other", "fix login test");

    auto filed = file("todo", "Fix login tests");
    EXPECT_EQ(filed.warnings, (std::vector<std::string>{"similar open: FP-B0000001 fix the login test",
                                                        "similar open: FP-A0000001 Fix login tests on the CI server",
                                                        "similar open: FP-A0000002 Fix login tests quickly"}));

    // The new item itself is filed after the scan and shows up next time.
    auto again = file("goal", "fix login tests");
    EXPECT_EQ(again.warnings.front(), "similar open: FP-B0000001 fix the login test");
    EXPECT_EQ(again.warnings[1], "similar open: " + filed.ref + " Fix login tests");
    EXPECT_EQ(again.warnings.size(), 3u);

    EXPECT_TRUE(file("todo", "the and of it").warnings.empty());  // no tokens: no scan
}

TEST_F(LedgerWorkFile, FailuresAndTheAdvisoryScan) {
    goal("A0000001-0000-4000-8000-000000000001", "-k", "fix login test");
    exec(ledger_, "DROP TABLE project_todos");
    auto goal_filed = ledger::work_file({"-k", "goal", "fix login test", "", false, "auto"});
    ASSERT_TRUE(goal_filed) << goal_filed.error();  // the scan failed, the filing did not
    EXPECT_TRUE(goal_filed->warnings.empty());
    EXPECT_EQ(ledger::work_file({"-k", "todo", "fix login test", "", false, "auto"}).error(),
              "no such table: project_todos");
    env_.set("WENDLE_LEDGER", (scratch_.path() / "gone/ledger.db").string());
    EXPECT_EQ(ledger::work_file({"-k", "todo", "x", "", false, "auto"}).error(), "unable to open database file");
}

TEST_F(LedgerWorkFile, HandlerChecksInOrder) {
    const fs::path repo = scratch_.dir("src/repo");
    session(dash_key(repo), "Repo", "1");
    const auto tool = ledger::tool_work_file();
    using toolport::json;
    struct Case {
        json args;
        std::string text;  // a prefix of the reply
        bool is_error;
    };
    const std::string required = "project_key, text, and kind (goal|todo) are required";
    const Case cases[] = {
        {nullptr, required, true},
        {{{"project_key", "repo"}, {"kind", "Goal"}, {"text", "x"}}, required, true},
        {{{"project_key", ""}, {"kind", "goal"}, {"text", "x"}}, required, true},
        {{{"project_key", "repo"}, {"kind", "goal"}, {"text", 5}}, required, true},
        {{{"project_key", "nope"}, {"kind", "goal"}, {"text", "x"}}, "no project matches 'nope' — see project_list",
         true},
        {{{"project_key", "repo"}, {"kind", "todo"}, {"text", "x"}, {"launch", true}},
         "launch requires kind=goal — todos carry no dispatch routing; file the work as a goal (criteria recommended)",
         true},
        {{{"project_key", "repo"}, {"kind", "goal"}, {"text", "x"}, {"launch", true}, {"runner", "kitty"}},
         "runner 'kitty' is not a known terminal — expected auto, wezterm, or velmora", true},
        {{{"project_key", "-home-x-gone"}, {"kind", "goal"}, {"text", "x"}, {"launch", true}},
         "cannot dispatch: no project named '-home-x-gone' with a resolvable path — see project_list", true},
        {{{"project_key", "repo"}, {"kind", "goal"}, {"text", "x"}, {"launch", "yes"}, {"runner", "kitty"}},
         "filed goal FP-", false},
        {{{"project_key", "repo"}, {"kind", "todo"}, {"text", "x"}, {"criteria", "ignored"}}, "filed todo FP-", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.dump());
        auto out = call(tool, c.args);
        EXPECT_EQ(out.is_error, c.is_error);
        EXPECT_TRUE(out.text.starts_with(c.text)) << out.text;
    }
    EXPECT_EQ(scalar(ledger_, "SELECT count(*) FROM project_goals"), "1");  // only the unchecked launch:"yes" goal

    for (const std::string runner : {"auto", "wezterm", "velmora"}) {
        SCOPED_TRACE(runner);
        json args = {{"project_key", "Repo"}, {"kind", "goal"}, {"text", "dispatch " + runner}, {"launch", true}};
        if (runner != "auto") args["runner"] = runner;
        auto out = call(tool, args);
        ASSERT_FALSE(out.is_error) << out.text;
        const std::string suffix = runner == "velmora" ? " (in the app's terminal, or a wezterm pane if the app is closed)" : "";
        EXPECT_TRUE(std::regex_match(
            out.text, std::regex("filed goal FP-[0-9A-F]{8}; agent dispatch queued on this node \\(runner=" + runner +
                                 "\\) — wendled claims it and opens a Claude session in the repo within ~5s" +
                                 std::regex_replace(suffix, std::regex(R"([()])"), R"(\$&)"))))
            << out.text;
    }
    EXPECT_EQ(scalar(ledger_, "SELECT group_concat(project_key, ',') FROM (SELECT DISTINCT project_key FROM project_goals)"),
              dash_key(repo));
}

}  // namespace
