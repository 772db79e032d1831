// Claims as compare-and-set, including a claim that loses the race to another
// writer, and completion of goals and todos.
#include <regex>

#include <gtest/gtest.h>

#include "ledger/claims.hpp"
#include "unit/ledger/ledger_fixture.hpp"

namespace {

using namespace ledger_test;
using toolport::json;

const std::string g1 = "C1A1A000-0000-4000-8000-000000000001";
const std::string g2 = "C1A1B000-0000-4000-8000-000000000002";
const std::string t1 = "D0D0A000-0000-4000-8000-000000000003";
const std::regex rfc3339(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)");

class LedgerClaims : public LedgerTest {
protected:
    void SetUp() override {
        LedgerTest::SetUp();
        node("studio");
        goal(g1, "-k", "first goal");
        goal(g2, "-k", "second goal");
        todo(t1, "-k", "a todo");
    }
    toolport::ToolOutput claim(const json& args) { return call(ledger::tool_work_claim(), args); }
    toolport::ToolOutput done(const json& args) { return call(ledger::tool_work_done(), args); }
};

TEST_F(LedgerClaims, ClaimStampsTheGoal) {
    auto out = claim({{"ref", "FP-C1A1A000"}});
    ASSERT_FALSE(out.is_error) << out.text;
    EXPECT_EQ(out.text, R"({"claimed":true,"goal_id":")" + g1 +
                            R"(","held_by":"studio","node":"studio","ref":"FP-C1A1A000","text":"first goal"})");
    EXPECT_EQ(goal_column(g1, "claimed_by_node || '|' || claimed_session || '|' || status || '|' || typeof(updated_at)"),
              "studio|studio/mcp|in_progress|real");
    EXPECT_TRUE(std::regex_match(goal_column(g1, "claimed_at"), rfc3339));

    // Claiming again renews the stamps.
    exec(ledger_, "UPDATE project_goals SET claimed_at='old', claimed_session='old', updated_at=1 WHERE id='" + g1 + "'");
    EXPECT_FALSE(claim({{"ref", "c1a1a"}}).is_error);
    EXPECT_EQ(goal_column(g1, "claimed_session || '|' || (updated_at > 1) || '|' || (claimed_at != 'old')"),
              "studio/mcp|1|1");
}

TEST_F(LedgerClaims, ClaimRefusals) {
    exec(ledger_, "UPDATE project_goals SET claimed_by_node='peer', status='in_progress' WHERE id='" + g1 + "'");
    exec(ledger_, "UPDATE project_goals SET status='met' WHERE id='" + g2 + "'");
    expect_refusals(ledger::tool_work_claim(), {
        {{{"ref", "FP-C1A1A000"}}, "FP-C1A1A000 is already claimed by peer"},
        {{{"ref", "C1A1B"}}, "FP-C1A1B000 is already claimed by "},  // met and never claimed
        {{{"ref", "FP-D0D0A000"}}, "no open goal matches 'FP-D0D0A000'"},  // todos are never claimed
        {{{"ref", "C1A1"}}, "ambiguous ref 'C1A1' matches 2 items"},
        {{{"ref", 7}}, "ref is required"},
        {json::array(), "ref is required"},
    });
    EXPECT_EQ(goal_column(g1, "claimed_by_node || '|' || status"), "peer|in_progress");
    EXPECT_EQ(goal_column(g2, "coalesce(claimed_by_node, 'NULL') || '|' || status"), "NULL|met");
}

TEST_F(LedgerClaims, ClaimThatLosesTheRaceAnswersWithTheWinner) {
    struct Case {
        const char* what;
        std::string other_write;  // run between the claim's read and its update
        std::string claimant;     // who the refusal names; "-" for not found
        std::string row;          // claimed_by_node|status afterwards
    };
    const Case cases[] = {
        {"the peer claims first", "UPDATE project_goals SET claimed_by_node='peer', status='in_progress'", "peer",
         "peer|in_progress"},
        {"the goal is met first", "UPDATE project_goals SET status='met', done=1", "", "NULL|met"},
        {"the row goes away", "DELETE FROM project_goals", "-", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        exec(ledger_, "DELETE FROM project_goals");
        goal(g1, "-k", "first goal");
        const auto direct_write = [&] { exec(ledger_, c.other_write + " WHERE id='" + g1 + "'"); };
        auto outcome = ledger::claim_goal("FP-C1A1A000", direct_write);
        ASSERT_TRUE(outcome) << outcome.error();
        if (c.claimant == "-") {
            EXPECT_TRUE(std::holds_alternative<ledger::NotFound>(*outcome));
            continue;
        }
        const auto* refused = std::get_if<ledger::Refused>(&*outcome);
        ASSERT_NE(refused, nullptr) << "the lost claim was answered as claimed";
        EXPECT_EQ(refused->claimant, c.claimant);
        EXPECT_EQ(refused->ref, "FP-C1A1A000");
        EXPECT_EQ(goal_column(g1, "coalesce(claimed_by_node, 'NULL') || '|' || status"), c.row);
    }
}

TEST_F(LedgerClaims, DoneClosesGoalsAndKeepsTheClaim) {
    exec(ledger_, "UPDATE project_goals SET claimed_by_node='peer', assessment_note='earlier' WHERE id IN ('" + g1 +
                      "','" + g2 + "')");
    auto out = done({{"ref", "FP-C1A1A000"}, {"note", "all green: ci#12"}});
    ASSERT_FALSE(out.is_error) << out.text;
    EXPECT_EQ(out.text, R"({"done":true,"id":")" + g1 +
                            R"(","kind":"goal","node":"studio","ref":"FP-C1A1A000","status":"met","text":"first goal"})");
    EXPECT_EQ(goal_column(g1, "status || '|' || done || '|' || shipped_by || '|' || assessment_note || '|' || "
                              "claimed_by_node || '|' || typeof(last_assessed_at) || '|' || (updated_at = last_assessed_at)"),
              "met|1|studio|all green: ci#12|peer|real|1");
    EXPECT_TRUE(std::regex_match(goal_column(g1, "shipped_at"), rfc3339));

    EXPECT_FALSE(done({{"ref", "C1A1B"}, {"note", 3}}).is_error);  // a non-string note is no note
    EXPECT_EQ(goal_column(g2, "status || '|' || assessment_note"), "met|earlier");

    // Closing a met goal again changes nothing and still answers.
    exec(ledger_, "UPDATE project_goals SET shipped_by='peer' WHERE id='" + g1 + "'");
    EXPECT_FALSE(done({{"ref", "FP-C1A1A000"}, {"note", "again"}}).is_error);
    EXPECT_EQ(goal_column(g1, "shipped_by || '|' || assessment_note"), "peer|all green: ci#12");
}

TEST_F(LedgerClaims, DoneClosesTodosOnce) {
    auto out = done({{"ref", "fp-d0d0a000"}, {"note", "ignored"}});
    ASSERT_FALSE(out.is_error) << out.text;
    EXPECT_EQ(out.text, R"({"done":true,"id":")" + t1 +
                            R"(","kind":"todo","node":"studio","ref":"FP-D0D0A000","status":"done","text":"a todo"})");
    EXPECT_EQ(todo_column(t1, "status || '|' || typeof(completed_at) || '|' || (completed_at = updated_at)"),
              "done|real|1");
    exec(ledger_, "UPDATE project_todos SET completed_at=5 WHERE id='" + t1 + "'");
    EXPECT_FALSE(done({{"ref", "D0D0A"}}).is_error);
    EXPECT_EQ(todo_column(t1, "completed_at"), "5.0");
}

TEST_F(LedgerClaims, DoneRefusals) {
    todo("C1A1C000-0000-4000-8000-000000000004", "-k", "todo sharing a goal prefix");
    goal("C1A1C000-0000-4000-8000-000000000005", "-k", "goal sharing a todo prefix");
    expect_refusals(ledger::tool_work_done(), {
        {{{"ref", "C1A1C"}}, "ambiguous ref 'C1A1C' matches a goal AND a todo"},
        {{{"ref", "C1A1"}}, "ambiguous ref 'C1A1' matches 3 items"},
        {{{"ref", "FFFF"}}, "no open goal/todo matches 'FFFF'"},
        {{{"note", "x"}}, "ref is required"},
    });
    EXPECT_EQ(scalar(ledger_, "SELECT count(*) FROM project_goals WHERE status='met'"), "0");
    exec(ledger_, "DROP TABLE project_todos");
    EXPECT_EQ(done({{"ref", "C1A1A"}}).text, "no such table: project_todos");
}

}  // namespace
