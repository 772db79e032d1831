// Test support for the ledger: a real ledger file with the companion's
// tables in a scratch directory, and tool calls run to completion.
#pragma once

#include <string>
#include <vector>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/use_future.hpp>
#include <gtest/gtest.h>
#include <toolport/toolport.hpp>

#include "ledger/companion_schema.hpp"
#include "ledger/sqlite.hpp"
#include "unit/ledger/ledger_scratch.hpp"

namespace ledger_test {

namespace fs = std::filesystem;

// A result as one comparable text: the value, or "failure: " and the text.
inline std::string shown(const toolport::Result<std::string>& result) {
    return result ? *result : "failure: " + result.error();
}

// Runs a tool's handler to completion on a private io_context.
inline toolport::ToolOutput call(const toolport::Tool& tool, toolport::json args) {
    boost::asio::io_context io;
    auto result = boost::asio::co_spawn(io, (*tool.handler)(std::move(args)), boost::asio::use_future);
    io.run();
    return result.get();
}

// Each case's call fails with exactly its text.
struct Refusal {
    toolport::json args;
    std::string text;
};
inline void expect_refusals(const toolport::Tool& tool, const std::vector<Refusal>& cases) {
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.dump());
        auto out = call(tool, c.args);
        EXPECT_TRUE(out.is_error);
        EXPECT_EQ(out.text, c.text);
    }
}

// A scratch directory holding a ledger with the companion's tables, named by
// WENDLE_LEDGER, and HOME pointed at a home inside the scratch directory.
class LedgerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ledger_ = scratch_.path() / "ledger.db";
        home_ = scratch_.dir("home");
        auto created = ledger::create_companion_ledger(ledger_.string());
        ASSERT_TRUE(created) << created.error();
        env_.set("WENDLE_LEDGER", ledger_.string());
        env_.set("WENDLE_HOME", std::nullopt);
        env_.set("HOME", home_.string());
    }

    void node(const std::string& id) {
        exec(ledger_, "INSERT OR REPLACE INTO federation_identity (k, v) VALUES ('node_id', " + sql_text(id) + ")");
    }

    void session(const std::string& key, const std::string& name, const std::string& last_updated = "1.0") {
        static int serial = 0;
        exec(ledger_, "INSERT INTO sessions (id, project_key, project_name, last_updated_at) VALUES ('s" +
                          std::to_string(++serial) + "', " + sql_text(key) + ", " +
                          (name.empty() ? "NULL" : sql_text(name)) + ", " + last_updated + ")");
    }

    void goal(const std::string& id, const std::string& key, const std::string& text,
              const std::string& extra_columns = "", const std::string& extra_values = "") {
        exec(ledger_, "INSERT INTO project_goals (id, project_key, text, done, status, sort, created_at" +
                          extra_columns + ") VALUES (" + sql_text(id) + ", " + sql_text(key) + ", " + sql_text(text) +
                          ", 0, 'open', 0, 1000.5" + extra_values + ")");
    }

    void todo(const std::string& id, const std::string& key, const std::string& text,
              const std::string& extra_columns = "", const std::string& extra_values = "") {
        exec(ledger_, "INSERT INTO project_todos (id, project_key, text, status, source, sort, created_at" +
                          extra_columns + ") VALUES (" + sql_text(id) + ", " + sql_text(key) + ", " + sql_text(text) +
                          ", 'open', 'test', 0, 1000.5" + extra_values + ")");
    }

    std::string goal_column(const std::string& id, const std::string& column) {
        return scalar(ledger_, "SELECT " + column + " FROM project_goals WHERE id=" + sql_text(id));
    }
    std::string todo_column(const std::string& id, const std::string& column) {
        return scalar(ledger_, "SELECT " + column + " FROM project_todos WHERE id=" + sql_text(id));
    }

    ScratchDir scratch_;
    EnvGuard env_;
    fs::path ledger_;
    fs::path home_;
};

}  // namespace ledger_test
