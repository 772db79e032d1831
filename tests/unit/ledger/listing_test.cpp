// Open-work listings, outcome reports and the commit listing through a real
// git repository.
#include <cstdlib>

#include <gtest/gtest.h>

#include "ledger/listing.hpp"
#include "ledger/refs.hpp"
#include "unit/ledger/ledger_fixture.hpp"

namespace {

using namespace ledger_test;
using toolport::json;

class LedgerListing : public LedgerTest {
protected:
    toolport::ToolOutput list(const json& args) { return call(ledger::tool_work_list(), args); }
    toolport::ToolOutput report(const json& args) { return call(ledger::tool_work_report(), args); }
    json report_json(const json& args) {
        auto out = report(args);
        EXPECT_FALSE(out.is_error) << out.text;
        return out.is_error ? json() : json::parse(out.text);
    }
};

TEST_F(LedgerListing, ListsOpenWorkInOrderWithOptionalMembers) {
    const fs::path repo = scratch_.dir("src/shop");
    const std::string key = dash_key(repo);
    session(key, "Shop", "1");
    goal("A2000000-0000-4000-8000-000000000001", key, "later goal", ", acceptance_criteria, target_host",
         ", 'it works', 'studio'");
    exec(ledger_, "UPDATE project_goals SET created_at=2000 WHERE id LIKE 'A2%'");
    goal("A1000000-0000-4000-8000-000000000001", key, "earlier goal", ", claimed_by_node", ", 'peer'");
    exec(ledger_, "UPDATE project_goals SET status='in_progress' WHERE id LIKE 'A1%'");
    goal("A0000000-0000-4000-8000-000000000001", key, "sorted first", ", target_host", ", ''");
    exec(ledger_, "UPDATE project_goals SET sort=-1 WHERE id LIKE 'A0%'");
    goal("A3000000-0000-4000-8000-000000000001", key, "met");
    exec(ledger_, "UPDATE project_goals SET status='met' WHERE id LIKE 'A3%'");
    goal("A4000000-0000-4000-8000-000000000001", key, "done but in progress");
    exec(ledger_, "UPDATE project_goals SET done=1, status='in_progress' WHERE id LIKE 'A4%'");
    goal("A5000000-0000-4000-8000-000000000001", key, "unreadable");
    exec(ledger_, "UPDATE project_goals SET text=X'00' WHERE id LIKE 'A5%'");
    goal("A6000000-0000-4000-8000-000000000001", "-elsewhere", "other project");
    todo("B1000000-0000-4000-8000-000000000001", key, "todo two");
    exec(ledger_, "UPDATE project_todos SET sort=2 WHERE id LIKE 'B1%'");
    todo("B0000000-0000-4000-8000-000000000001", key, "todo one");
    todo("B2000000-0000-4000-8000-000000000001", key, "closed todo");
    exec(ledger_, "UPDATE project_todos SET status='done' WHERE id LIKE 'B2%'");

    const std::string expected =
        R"({"goals":[{"criteria":"","ref":"FP-A0000000","status":"open","text":"sorted first"},)"
        R"({"criteria":"","held_by":"peer","ref":"FP-A1000000","status":"in_progress","text":"earlier goal"},)"
        R"({"criteria":"it works","ref":"FP-A2000000","routed_to":"studio","status":"open","text":"later goal"}],)"
        R"("todos":[{"ref":"FP-B0000000","text":"todo one"},{"ref":"FP-B1000000","text":"todo two"}]})";
    for (const std::string& name : {key, std::string("shop"), std::string("SHOP")}) {
        SCOPED_TRACE(name);
        auto out = list({{"project_key", name}});
        EXPECT_FALSE(out.is_error);
        EXPECT_EQ(out.text, expected);
    }
    EXPECT_EQ(list({{"project_key", "-nothing-here"}}).text, R"({"goals":[],"todos":[]})");
    EXPECT_EQ(list({{"project_key", 1}}).text, "project_key is required");
    EXPECT_EQ(list({{"project_key", "ghost"}}).text, "no project matches 'ghost' — see project_list");
    exec(ledger_, "DROP TABLE project_todos");
    EXPECT_EQ(list({{"project_key", key}}).text, "no such table: project_todos");
}

TEST_F(LedgerListing, GoalReports) {
    goal("E1000000-0000-4000-8000-000000000001", "-k", "never claimed", ", acceptance_criteria, origin_host, target_host",
         ", NULL, 'studio', ''");
    goal("E2000000-0000-4000-8000-000000000001", "-k", "closed one",
         ", acceptance_criteria, target_host, runner, claimed_by_node, claimed_at, claimed_session, assessment_note, "
         "shipped_by, shipped_at, blocker, origin_host, last_assessed_at",
         ", 'ci green', 'studio', 'velmora', 'peer', '2026-01-02T03:04:05.006Z', 'peer/mcp', 'done: see PR 7', "
         "'peer', '2026-01-03T00:00:00.000Z', 'none really', 'studio', 1767225600.5");
    exec(ledger_, "UPDATE project_goals SET status='met', done=1, created_at=1767139200.25 WHERE id LIKE 'E2%'");
    goal("E3000000-0000-4000-8000-000000000001", "-k", "in progress but done");
    exec(ledger_, "UPDATE project_goals SET status='in_progress', done=1 WHERE id LIKE 'E3%'");

    EXPECT_EQ(report(json{{"ref", "FP-E1000000"}}).text,
              R"({"closed":false,"created_at":"1970-01-01T00:16:40.500Z","id":"E1000000-0000-4000-8000-000000000001",)"
              R"("kind":"goal","origin_host":"studio","project_key":"-k","ref":"FP-E1000000","status":"open",)"
              R"("text":"never claimed"})");
    EXPECT_EQ(report(json{{"ref", "e2"}}).text,
              R"({"blocker":"none really","claimed_at":"2026-01-02T03:04:05.006Z","claimed_session":"peer/mcp",)"
              R"("closed":true,"created_at":"2025-12-31T00:00:00.250Z","criteria":"ci green",)"
              R"("evidence":"done: see PR 7","held_by":"peer","id":"E2000000-0000-4000-8000-000000000001",)"
              R"("kind":"goal","last_assessed_at":"2026-01-01T00:00:00.500Z","note":"done: see PR 7",)"
              R"("origin_host":"studio","project_key":"-k","ref":"FP-E2000000","routed_to":"studio",)"
              R"("runner":"velmora","shipped_at":"2026-01-03T00:00:00.000Z","shipped_by":"peer","status":"met",)"
              R"("text":"closed one"})");
    EXPECT_EQ(report_json({{"ref", "E3"}})["closed"], true);

    exec(ledger_, "UPDATE project_goals SET created_at=NULL WHERE id LIKE 'E1%'");
    EXPECT_EQ(report(json{{"ref", "E1"}}).text, "Invalid column type Null at index: 15, name: created_at");
    exec(ledger_, "UPDATE project_goals SET created_at='yesterday' WHERE id LIKE 'E1%'");
    EXPECT_EQ(report(json{{"ref", "E1"}}).text, "Invalid column type Text at index: 15, name: created_at");
}

TEST_F(LedgerListing, TodoReportsAndRefusals) {
    todo("F1000000-0000-4000-8000-000000000001", "-k", "open todo");
    todo("F2000000-0000-4000-8000-000000000001", "-k", "closed todo", ", claimed_by_node, claimed_at, shipped_by",
         ", 'peer', '2026-01-02T00:00:00.000Z', 'peer'");
    exec(ledger_, "UPDATE project_todos SET status='done', completed_at=86400 WHERE id LIKE 'F2%'");
    goal("F2100000-0000-4000-8000-000000000001", "-k", "goal sharing a prefix");

    EXPECT_EQ(report(json{{"ref", "F1"}}).text,
              R"({"closed":false,"created_at":"1970-01-01T00:16:40.500Z","id":"F1000000-0000-4000-8000-000000000001",)"
              R"("kind":"todo","project_key":"-k","ref":"FP-F1000000","status":"open","text":"open todo"})");
    EXPECT_EQ(report(json{{"ref", "FP-F2000000"}}).text,
              R"({"claimed_at":"2026-01-02T00:00:00.000Z","closed":true,"completed_at":"1970-01-02T00:00:00.000Z",)"
              R"("created_at":"1970-01-01T00:16:40.500Z","held_by":"peer","id":"F2000000-0000-4000-8000-000000000001",)"
              R"("kind":"todo","project_key":"-k","ref":"FP-F2000000","shipped_by":"peer","status":"done",)"
              R"("text":"closed todo"})");
    expect_refusals(ledger::tool_work_report(), {
        {{{"ref", "F2"}}, "ambiguous ref 'F2' matches a goal AND a todo"},
        {{{"ref", "0000"}}, "no goal or todo matches '0000'"},
        {{{"commits", true}}, "ref is required"},
    });
}

TEST(LedgerCommits, GitOutcomesBecomeLinesOrErrors) {
    struct Case {
        const char* what;
        fleet::Outcome outcome;
        std::vector<std::string> lines;
        std::string error;
    };
    const Case cases[] = {
        {"time-out", fleet::TimedOut{}, {}, "git log timed out"},
        {"no git", fleet::NotStarted{"No such file or directory"}, {}, "spawn git: No such file or directory"},
        {"lines", fleet::Exited{0, std::nullopt, false, "abc1234 fix it\r\n\ndef5678 second\n", ""},
         {"abc1234 fix it", "def5678 second"}, ""},
        {"no output", fleet::Exited{0, std::nullopt, false, "", "warning"}, {}, ""},
        {"invalid UTF-8", fleet::Exited{0, std::nullopt, false, "abc \xff\n", ""}, {"abc \xEF\xBF\xBD"}, ""},
        {"failure", fleet::Exited{128, std::nullopt, false, "", "  fatal: bad revision\n"}, {}, "fatal: bad revision"},
        {"signal", fleet::Exited{std::nullopt, 9, false, "abc x\n", ""}, {}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto lines = ledger::git_log_lines(c.outcome);
        if (std::string(c.what) == "signal" || !c.error.empty()) {
            ASSERT_FALSE(lines);
            EXPECT_EQ(lines.error(), c.error);
        } else {
            ASSERT_TRUE(lines) << lines.error();
            EXPECT_EQ(*lines, c.lines);
        }
    }
    const auto command = ledger::git_log_command("/repo dir", "2026-01-02T03:04:05.006Z");
    EXPECT_EQ(command.program, "git");
    EXPECT_EQ(command.args, (std::vector<std::string>{"-C", "/repo dir", "log", "--since", "2026-01-02T03:04:05.006Z",
                                                      "--max-count=20", "--format=%h %s"}));
    EXPECT_FALSE(command.input);
    EXPECT_EQ(command.limit, std::chrono::seconds(10));
}

class LedgerCommitListing : public LedgerListing {
protected:
    void SetUp() override {
        LedgerListing::SetUp();
        repo_ = scratch_.dir("src/app");
        const std::string git = "git -C '" + repo_.string() + "' -c user.name=t -c user.email=t@e ";
        ASSERT_EQ(std::system((git + "init -q").c_str()), 0);
        for (const auto& [date, subject] : {std::pair{"2020-01-01T00:00:00Z", "old work"},
                                            std::pair{"2024-05-01T00:00:00Z", "first fix"},
                                            std::pair{"2024-06-01T00:00:00Z", "second fix"}}) {
            const std::string env = std::string("GIT_AUTHOR_DATE=") + date + " GIT_COMMITTER_DATE=" + date + " ";
            ASSERT_EQ(std::system((env + git + "commit -q --allow-empty -m '" + subject + "'").c_str()), 0);
        }
        session(dash_key(repo_), "App", "1");
    }
    // A goal of `key` claimed at `claimed_at` ("" for unclaimed); its ref.
    std::string claimed_goal(const std::string& key, const std::string& claimed_at) {
        const std::string id = "9" + std::to_string(++serial_) + "000000-0000-4000-8000-000000000001";
        goal(id, key, "goal", ", claimed_at", ", " + (claimed_at.empty() ? std::string("NULL") : sql_text(claimed_at)));
        return ledger::work_ref(id);
    }
    fs::path repo_;
    int serial_ = 0;
};

TEST_F(LedgerCommitListing, CommitsSinceTheClaim) {
    const std::string key = dash_key(repo_);
    auto listed = report_json({{"ref", claimed_goal(key, "2024-04-01T00:00:00.000Z")}, {"commits", true}});
    ASSERT_TRUE(listed.contains("commits")) << listed.dump();
    ASSERT_EQ(listed["commits"].size(), 2u);
    EXPECT_TRUE(listed["commits"][0].get<std::string>().ends_with(" second fix"));
    EXPECT_TRUE(listed["commits"][1].get<std::string>().ends_with(" first fix"));
    EXPECT_FALSE(listed.contains("commits_error"));

    auto quiet = report_json({{"ref", claimed_goal(key, "2025-01-01T00:00:00.000Z")}, {"commits", true}});
    EXPECT_FALSE(quiet.contains("commits"));
    EXPECT_FALSE(quiet.contains("commits_error"));

    // "commits" counts only as JSON true.
    EXPECT_FALSE(report_json({{"ref", claimed_goal(key, "2024-04-01T00:00:00.000Z")}, {"commits", "true"}})
                     .contains("commits"));
}

TEST_F(LedgerCommitListing, CommitErrorsNeverFailTheReport) {
    const fs::path plain = scratch_.dir("src/plain");
    session(dash_key(plain), "Plain", "1");
    const fs::path broken = scratch_.dir("src/broken/.git").parent_path();
    session(dash_key(broken), "Broken", "1");
    const std::string stamp = "2024-04-01T00:00:00.000Z";
    struct Case {
        std::string ref;
        std::string error;  // a prefix of commits_error
    };
    const Case cases[] = {
        {claimed_goal("", stamp), "no project_key on the row"},
        {claimed_goal(dash_key(repo_), ""), "no claim stamp to date commits from"},
        {claimed_goal("-home-x-ghost", stamp), "project '-home-x-ghost' has no resolvable path on this node"},
        {claimed_goal(dash_key(plain), stamp), plain.string() + " is not a git checkout on this node"},
        {claimed_goal(dash_key(broken), stamp), "fatal: "},
    };
    session("-home-x-ghost", "", "1");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ref);
        auto out = report_json({{"ref", c.ref}, {"commits", true}});
        ASSERT_TRUE(out.contains("commits_error")) << out.dump();
        EXPECT_TRUE(out["commits_error"].get<std::string>().starts_with(c.error)) << out["commits_error"];
        EXPECT_FALSE(out.contains("commits"));
    }
}

}  // namespace
