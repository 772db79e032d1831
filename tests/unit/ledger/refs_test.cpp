// Work refs and their resolution to row ids.
#include <gtest/gtest.h>

#include "ledger/refs.hpp"
#include "ledger/store.hpp"
#include "unit/ledger/ledger_fixture.hpp"

namespace {

using namespace ledger_test;

TEST(LedgerRefs, WorkRefTakesEightLettersOrDigits) {
    const std::pair<std::string, std::string> cases[] = {
        {"3f2504e0-4f89-11d3-9a0c-0305e82c3301", "FP-3F2504E0"},
        {"3F2504E0-4F89-11D3-9A0C-0305E82C3301", "FP-3F2504E0"},
        {"ab-cd", "FP-ABCD"},
        {"a-b_c.d e/f-g-h-i-j", "FP-ABCDEFGH"},
        {"", "FP-"},
        {"é1-2", "FP-12"},
    };
    for (const auto& [id, ref] : cases) {
        SCOPED_TRACE(id);
        EXPECT_EQ(ledger::work_ref(id), ref);
    }
}

TEST(LedgerRefs, MatchRefPasses) {
    const std::vector<std::string> ids = {"3F2504E0-4F89-11D3-9A0C-0305E82C3301",
                                          "7A11C0DE-0000-4000-8000-000000000001",
                                          "7A11C0DF-0000-4000-8000-000000000002"};
    struct Case {
        std::string ref;
        std::optional<std::string> id;  // none: nothing matches
        std::string error;              // non-empty: the failure
    };
    const Case cases[] = {
        {"FP-3F2504E0", ids[0], ""},
        {"fp-3f2504e0", ids[0], ""},
        {"FP-fp-3f25", ids[0], ""},
        {"3f25", ids[0], ""},
        {"3F2504E04F89", ids[0], ""},
        {"3f2504e0-4f89-11d3-9a0c-0305e82c3301", ids[0], ""},  // the exact pass ignores case
        {"FP-3F2504E0-4F89-11D3-9A0C-0305E82C3301", std::nullopt, ""},  // the exact pass sees the ref as given
        {"3F2504E0-4F89", std::nullopt, ""},  // hyphens stay in the query, ids lose theirs
        {"Fp-3F25", std::nullopt, ""},  // only FP- and fp- are stripped
        {"7A11C0D", std::nullopt, "ambiguous ref '7A11C0D' matches 2 items"},
        {"FP-", std::nullopt, "ambiguous ref 'FP-' matches 3 items"},
        {"", std::nullopt, "ambiguous ref '' matches 3 items"},
        {"ffff", std::nullopt, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ref);
        auto found = ledger::match_ref(ids, c.ref);
        if (!c.error.empty()) {
            ASSERT_FALSE(found);
            EXPECT_EQ(found.error(), c.error);
        } else {
            ASSERT_TRUE(found) << found.error();
            EXPECT_EQ(*found, c.id);
        }
    }
    // One row: the empty query resolves to it.
    for (const char* empty : {"", "FP-", "fp-"}) EXPECT_EQ(*ledger::match_ref({ids[1]}, empty), ids[1]);
}

class LedgerResolveRef : public LedgerTest {};

TEST_F(LedgerResolveRef, ReadsIdsFromTheTableAndSkipsUnreadableOnes) {
    goal("AAAA1111-0000-4000-8000-000000000001", "k", "a goal");
    exec(ledger_, "INSERT INTO project_goals (id, project_key, text, created_at) VALUES (X'31323334', 'k', 'x', 1)");
    todo("AAAA2222-0000-4000-8000-000000000001", "k", "a todo");
    auto db = ledger::open();
    ASSERT_TRUE(db);

    auto goal_ref = ledger::resolve_ref(*db, ledger::goals_table, "fp-aaaa");
    ASSERT_TRUE(goal_ref) << goal_ref.error();
    EXPECT_EQ(*goal_ref, "AAAA1111-0000-4000-8000-000000000001");  // the blob id does not read as text
    EXPECT_EQ(*ledger::resolve_ref(*db, ledger::goals_table, "1234"), std::nullopt);
    EXPECT_EQ(*ledger::resolve_ref(*db, ledger::todos_table, "FP-AAAA2222"), "AAAA2222-0000-4000-8000-000000000001");

    exec(ledger_, "DROP TABLE project_todos");
    EXPECT_EQ(ledger::resolve_ref(*db, ledger::todos_table, "x").error(), "no such table: project_todos");
}

}  // namespace
