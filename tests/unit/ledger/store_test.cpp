// The ledger file: its location rules, how it is opened, the silent runner
// column, this node's id and the text form of real-valued times.
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "ledger/projects.hpp"
#include "ledger/store.hpp"
#include "unit/ledger/ledger_fixture.hpp"

namespace {

using namespace ledger_test;

TEST(LedgerStore, LocationRulesInOrder) {
    ScratchDir scratch;
    const fs::path with_fleet = scratch.dir("with");
    fs::create_directories(with_fleet / ".wendle");
    const fs::path without_fleet = scratch.dir("without");
    struct Case {
        const char* what;
        std::optional<std::string> ledger, home_var, home;
        std::string expected;
    };
    const Case cases[] = {
        {"ledger variable wins, used as given", " ~/odd path.db", "/fh", with_fleet.string(), " ~/odd path.db"},
        {"empty ledger variable falls to WENDLE_HOME", "", "/fh", with_fleet.string(), "/fh/ledger.db"},
        {"empty WENDLE_HOME falls to the home directory", "", "", with_fleet.string(),
         (with_fleet / ".wendle/ledger.db").string()},
        {"no .wendle directory: the history file", std::nullopt, std::nullopt, without_fleet.string(),
         (without_fleet / ".claude/velmora-cache/history.db").string()},
        {"empty HOME: the relative history file", std::nullopt, std::nullopt, "",
         ".claude/velmora-cache/history.db"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EnvGuard env;
        env.set("WENDLE_LEDGER", c.ledger);
        env.set("WENDLE_HOME", c.home_var);
        env.set("HOME", c.home);
        EXPECT_EQ(ledger::ledger_path(), c.expected);
    }
}

TEST(LedgerStore, OpenFailuresCarryTheLibraryText) {
    ScratchDir scratch;
    EnvGuard env;
    env.set("WENDLE_LEDGER", (scratch.path() / "missing-dir/ledger.db").string());
    auto db = ledger::open();
    ASSERT_FALSE(db);
    EXPECT_EQ(db.error(), "unable to open database file");
    EXPECT_EQ(ledger::project_list().error(), "unable to open database file");

    write_file(scratch.path() / "not-a-db", std::string(4096, 'x'));
    env.set("WENDLE_LEDGER", (scratch.path() / "not-a-db").string());
    EXPECT_EQ(ledger::project_list().error(), "file is not a database");
}

TEST(LedgerStore, HistoryFallbackIsCreatedEmptyAndStatementsNameTheTable) {
    ScratchDir scratch;
    EnvGuard env;
    env.set("WENDLE_LEDGER", std::nullopt);
    env.set("WENDLE_HOME", std::nullopt);
    env.set("HOME", scratch.path().string());
    EXPECT_EQ(ledger::project_list().error(), "unable to open database file");  // no directory yet

    scratch.dir(".claude/velmora-cache");
    auto list = ledger::project_list();
    ASSERT_FALSE(list);
    EXPECT_EQ(list.error(), "no such table: sessions");
    EXPECT_TRUE(fs::exists(scratch.path() / ".claude/velmora-cache/history.db"));
}

TEST(LedgerStore, RunnerColumnIsAddedOnceAndSilently) {
    ScratchDir scratch;
    const fs::path file = scratch.path() / "old.db";
    exec(file, "CREATE TABLE project_goals (id TEXT, project_key TEXT, text TEXT); "
               "INSERT INTO project_goals VALUES ('G1', 'k', 'old goal')");
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        auto db = ledger::open_at(file.string());
        ASSERT_TRUE(db) << db.error();
    }
    EXPECT_EQ(scalar(file, "SELECT runner FROM project_goals WHERE id='G1'"), "");
    EXPECT_EQ(scalar(file, "SELECT count(*) FROM pragma_table_info('project_goals') WHERE name='runner'"), "1");

    // A file without the table opens all the same.
    EXPECT_TRUE(ledger::open_at((scratch.path() / "empty.db").string()));
}

TEST(LedgerStore, ThisNodeFallsBackToMacNode) {
    ScratchDir scratch;
    EnvGuard env;
    struct Case {
        const char* what;
        std::string setup;  // statements run on a fresh ledger; "-" for no file at all
        std::string expected;
    };
    const Case cases[] = {
        {"no file", "-", "mac-node"},
        {"no table", "CREATE TABLE other (x)", "mac-node"},
        {"no row", "CREATE TABLE federation_identity (k TEXT, v TEXT)", "mac-node"},
        {"NULL value", "CREATE TABLE federation_identity (k TEXT, v TEXT); INSERT INTO federation_identity VALUES ('node_id', NULL)", "mac-node"},
        {"empty value", "CREATE TABLE federation_identity (k TEXT, v TEXT); INSERT INTO federation_identity VALUES ('node_id', '')", "mac-node"},
        {"number value", "CREATE TABLE federation_identity (k TEXT, v); INSERT INTO federation_identity VALUES ('node_id', 7)", "mac-node"},
        {"a node id", "CREATE TABLE federation_identity (k TEXT, v TEXT); INSERT INTO federation_identity VALUES ('node_id', 'studio-2')", "studio-2"},
    };
    int serial = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path file = c.setup == "-" ? scratch.path() / "nowhere/ledger.db"
                                             : scratch.path() / ("node" + std::to_string(++serial) + ".db");
        if (c.setup != "-") exec(file, c.setup);
        env.set("WENDLE_LEDGER", file.string());
        EXPECT_EQ(ledger::this_node(), c.expected);
    }
}

TEST(LedgerStore, RealSecondsAsText) {
    struct Case {
        double seconds;
        std::string expected;
    };
    const Case cases[] = {
        {0, "1970-01-01T00:00:00.000Z"},
        {1000000000.25, "2001-09-09T01:46:40.250Z"},
        {951782400.9999, "2000-02-29T00:00:00.999Z"},
        {-1.5, "1969-12-31T23:59:59.000Z"},  // truncated toward zero; a negative fraction gives no milliseconds
        {std::nan(""), "1970-01-01T00:00:00.000Z"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.seconds);
        EXPECT_EQ(ledger::seconds_to_rfc3339(c.seconds), c.expected);
    }
    // Out-of-range values saturate instead of overflowing.
    EXPECT_FALSE(ledger::seconds_to_rfc3339(std::numeric_limits<double>::infinity()).empty());
    EXPECT_FALSE(ledger::seconds_to_rfc3339(-1e300).empty());
}

}  // namespace
