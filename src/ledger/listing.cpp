#include "ledger/listing.hpp"

#include <filesystem>
#include <system_error>

#include "fleet/paths.hpp"
#include "ledger/projects.hpp"
#include "ledger/store.hpp"

namespace ledger {

namespace fs = std::filesystem;
using toolport::json;
using toolport::ToolOutput;

namespace {

// Runs a listing statement for a project; `entry` maps a row to its entry or
// to none when the row does not read.
template <class Entry>
toolport::Result<json> list_rows(sqlite::Connection& db, std::string_view statement, std::string_view key,
                                 Entry&& entry) {
    auto stmt = db.prepare(statement);
    if (!stmt) return std::unexpected(std::move(stmt.error()));
    if (auto bound = stmt->bind_text(1, key); !bound) return std::unexpected(std::move(bound.error()));
    json entries = json::array();
    auto scanned = stmt->each_row([&](const sqlite::Statement& row) {
        if (auto value = entry(row)) entries.push_back(std::move(*value));
    });
    if (!scanned) return std::unexpected(std::move(scanned.error()));
    return entries;
}

std::optional<json> goal_entry(const sqlite::Statement& row) {
    auto id = row.text(0), text = row.text(1), status = row.text(2), criteria = row.text(3), held_by = row.text(4),
         routed_to = row.text(5);
    if (!id || !text || !status || !criteria || !held_by || !routed_to) return std::nullopt;
    json entry = {{"ref", work_ref(*id)}, {"text", *text}, {"status", *status}, {"criteria", *criteria}};
    toolport::put_if_set(entry, "held_by", *held_by);
    toolport::put_if_set(entry, "routed_to", *routed_to);
    return entry;
}

std::optional<json> todo_entry(const sqlite::Statement& row) {
    auto id = row.text(0), text = row.text(1);
    if (!id || !text) return std::nullopt;
    return json{{"ref", work_ref(*id)}, {"text", *text}};
}

// Reads the one row of a report statement; `build` turns it into the report.
template <class Build>
toolport::Result<json> read_report(sqlite::Connection& db, std::string_view statement, const std::string& id,
                                   Build&& build) {
    auto stmt = db.prepare(statement);
    if (!stmt) return std::unexpected(std::move(stmt.error()));
    if (auto bound = stmt->bind_text(1, id); !bound) return std::unexpected(std::move(bound.error()));
    auto row = stmt->step();
    if (!row) return std::unexpected(std::move(row.error()));
    if (!*row) return std::unexpected(std::string(sqlite::no_rows));
    return build(*stmt);
}

// Appends `count` text columns from `first` on to `out`; the first failure's text.
toolport::Result<void> texts(const sqlite::Statement& row, int first, std::vector<std::string>& out, int count) {
    for (int column = first; column < first + count; ++column) {
        auto value = row.text(column);
        if (!value) return std::unexpected(std::move(value.error()));
        out.push_back(std::move(*value));
    }
    return {};
}

toolport::Result<json> goal_report(const sqlite::Statement& row, const std::string& id) {
    std::vector<std::string> t;
    if (auto read = texts(row, 0, t, 3); !read) return std::unexpected(std::move(read.error()));
    auto done = row.integer(3);
    if (!done) return std::unexpected(std::move(done.error()));
    if (auto read = texts(row, 4, t, 11); !read) return std::unexpected(std::move(read.error()));
    auto created = row.real(15);
    if (!created) return std::unexpected(std::move(created.error()));
    auto assessed = row.optional_real(16);
    if (!assessed) return std::unexpected(std::move(assessed.error()));

    const std::string& status = t[2];
    json report = {{"ref", work_ref(id)},
                   {"id", id},
                   {"kind", "goal"},
                   {"project_key", t[0]},
                   {"status", status},
                   {"closed", status == "met" || *done != 0},
                   {"text", t[1]},
                   {"created_at", seconds_to_rfc3339(*created)}};
    // t[3..13]: criteria, held_by, routed_to, runner, claimed_at, claimed_session,
    // note, shipped_by, shipped_at, blocker, origin_host
    toolport::put_if_set(report, "criteria", t[3]);
    toolport::put_if_set(report, "held_by", t[4]);
    toolport::put_if_set(report, "routed_to", t[5]);
    toolport::put_if_set(report, "runner", t[6]);
    toolport::put_if_set(report, "claimed_at", t[7]);
    toolport::put_if_set(report, "claimed_session", t[8]);
    toolport::put_if_set(report, "note", t[9]);
    toolport::put_if_set(report, "evidence", t[9]);
    toolport::put_if_set(report, "shipped_by", t[10]);
    toolport::put_if_set(report, "shipped_at", t[11]);
    toolport::put_if_set(report, "blocker", t[12]);
    toolport::put_if_set(report, "origin_host", t[13]);
    if (*assessed) report["last_assessed_at"] = seconds_to_rfc3339(**assessed);
    return report;
}

toolport::Result<json> todo_report(const sqlite::Statement& row, const std::string& id) {
    std::vector<std::string> t;
    if (auto read = texts(row, 0, t, 6); !read) return std::unexpected(std::move(read.error()));
    auto created = row.real(6);
    if (!created) return std::unexpected(std::move(created.error()));
    auto completed = row.optional_real(7);
    if (!completed) return std::unexpected(std::move(completed.error()));

    json report = {{"ref", work_ref(id)},
                   {"id", id},
                   {"kind", "todo"},
                   {"project_key", t[0]},
                   {"status", t[2]},
                   {"closed", t[2] == "done"},
                   {"text", t[1]},
                   {"created_at", seconds_to_rfc3339(*created)}};
    toolport::put_if_set(report, "held_by", t[3]);
    toolport::put_if_set(report, "claimed_at", t[4]);
    toolport::put_if_set(report, "shipped_by", t[5]);
    if (*completed) report["completed_at"] = seconds_to_rfc3339(**completed);
    return report;
}

std::string member_text(const json& report, const char* key) {
    auto it = report.find(key);
    return it != report.end() && it->is_string() ? it->get<std::string>() : std::string();
}

}  // namespace

toolport::Result<json> work_list(std::string_view project_key) {
    auto db = open();
    if (!db) return std::unexpected(std::move(db.error()));
    auto goals = list_rows(*db, sql::list_goals, project_key, goal_entry);
    if (!goals) return std::unexpected(std::move(goals.error()));
    auto todos = list_rows(*db, sql::list_todos, project_key, todo_entry);
    if (!todos) return std::unexpected(std::move(todos.error()));
    return json{{"goals", std::move(*goals)}, {"todos", std::move(*todos)}};
}

toolport::Result<ReportOutcome> work_report_in(sqlite::Connection& db, std::string_view ref) {
    auto goal = resolve_ref(db, goals_table, ref);
    if (!goal) return std::unexpected(std::move(goal.error()));
    auto todo = resolve_ref(db, todos_table, ref);
    if (!todo) return std::unexpected(std::move(todo.error()));
    if (*goal && *todo) return std::unexpected("ambiguous ref '" + std::string(ref) + "' matches a goal AND a todo");
    if (!*goal && !*todo) return NotFound{};
    const std::string id = *goal ? **goal : **todo;
    auto report = *goal ? read_report(db, sql::goal_report, id, [&](auto& row) { return goal_report(row, id); })
                        : read_report(db, sql::todo_report, id, [&](auto& row) { return todo_report(row, id); });
    if (!report) return std::unexpected(std::move(report.error()));
    return std::move(*report);
}

fleet::Command git_log_command(const std::string& dir, const std::string& since) {
    return fleet::Command{
        "git", {"-C", dir, "log", "--since", since, "--max-count=20", "--format=%h %s"}, std::nullopt,
        std::chrono::seconds(10)};
}

toolport::Result<std::vector<std::string>> git_log_lines(const fleet::Outcome& outcome) {
    if (std::holds_alternative<fleet::TimedOut>(outcome)) return std::unexpected(std::string("git log timed out"));
    if (const auto* failed = std::get_if<fleet::NotStarted>(&outcome))
        return std::unexpected("spawn git: " + failed->error);
    const auto& exited = std::get<fleet::Exited>(outcome);
    if (exited.code != 0) return std::unexpected(toolport::trim(fleet::utf8_lossy(exited.err)));
    std::vector<std::string> lines;
    const std::string out = fleet::utf8_lossy(exited.out);
    for (std::size_t start = 0; start < out.size();) {
        auto end = out.find('\n', start);
        if (end == std::string::npos) end = out.size();
        std::string line = out.substr(start, end - start);
        if (line.ends_with('\r')) line.pop_back();
        if (!line.empty()) lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

boost::asio::awaitable<toolport::Result<std::vector<std::string>>> commits_since(std::string dir, std::string since) {
    fleet::Command git = git_log_command(dir, since);  // named: see the note in fleet/process.hpp
    fleet::Outcome outcome = co_await fleet::run_process(std::move(git));
    toolport::Result<std::vector<std::string>> lines = git_log_lines(outcome);
    co_return lines;
}

boost::asio::awaitable<json> with_commits(json report) {
    const std::string key = member_text(report, "project_key");
    const std::string claimed_at = member_text(report, "claimed_at");
    std::optional<std::string> error;
    if (key.empty()) {
        error = "no project_key on the row";
    } else if (claimed_at.empty()) {
        error = "no claim stamp to date commits from";
    } else if (auto root = project_root(key); !root) {
        error = std::move(root.error());
    } else {
        std::error_code ec;
        if (!fs::exists(fs::path(*root) / ".git", ec) || ec) {
            error = *root + " is not a git checkout on this node";
        } else {
            auto lines = co_await commits_since(*root, claimed_at);
            if (!lines) error = std::move(lines.error());
            else if (!lines->empty()) report["commits"] = std::move(*lines);
        }
    }
    if (error) report["commits_error"] = std::move(*error);
    co_return report;
}

namespace {

ToolOutput list_call(const json& args) {
    const auto name = toolport::str(args, "project_key");
    if (!name) return ToolOutput::failure("project_key is required");
    auto key = resolve_project_key(*name);
    if (!key) return ToolOutput::failure(std::move(key.error()));
    auto list = work_list(*key);
    if (!list) return ToolOutput::failure(std::move(list.error()));
    return ToolOutput::success(toolport::dump(*list));
}

// The report, or the failure output; the connection is closed on return.
std::variant<json, ToolOutput> report_or_failure(const json& args) {
    const auto ref = toolport::str(args, "ref");
    if (!ref) return ToolOutput::failure("ref is required");
    auto db = open();
    if (!db) return ToolOutput::failure(std::move(db.error()));
    auto outcome = work_report_in(*db, *ref);
    if (!outcome) return ToolOutput::failure(std::move(outcome.error()));
    if (std::holds_alternative<NotFound>(*outcome)) return ToolOutput::failure("no goal or todo matches '" + *ref + "'");
    return std::move(std::get<json>(*outcome));
}

boost::asio::awaitable<ToolOutput> report_handler(json args) {
    auto report = report_or_failure(args);
    if (auto* failed = std::get_if<ToolOutput>(&report)) {
        ToolOutput output = std::move(*failed);
        co_return output;
    }
    json shown = std::move(std::get<json>(report));
    // git runs after the ledger connection is closed
    if (toolport::flag(args, "commits")) shown = co_await with_commits(std::move(shown));
    ToolOutput output = ToolOutput::success(toolport::dump(shown));
    co_return output;
}

}  // namespace

toolport::Tool tool_work_list() {
    return toolport::Tool(
        "work_list",
        "List open work for a project: {goals:[{ref,text,status,criteria,held_by?,routed_to?}], todos:[{ref,text}]}. "
        "Goals exclude met/done. `ref` is FP-xxxxxxxx (resolves cross-machine). `project_key` accepts the key OR the "
        "plain project name (resolved like project_brief).",
        json{{"type", "object"},
             {"required", json::array({"project_key"})},
             {"properties", {{"project_key", {{"type", "string"}, {"description", "project key or plain name"}}}}}},
        toolport::inline_handler(list_call));
}

toolport::Tool tool_work_report() {
    return toolport::Tool(
        "work_report",
        "Fetch a work item's OUTCOME by ref (FP-xxxxxxxx) or id — the read work_list can't do, because work_list "
        "excludes met/done. A closed goal returns its assessment note (the closing agent's report + evidence) with "
        "shipped_by/shipped_at; an open goal returns status + claim info (held_by/claimed_at), which is the cheap "
        "'did it get picked up' poll. Set `commits: true` to also list the project repo's commits since the claim.",
        json{{"type", "object"},
             {"required", json::array({"ref"})},
             {"properties",
              {{"ref", {{"type", "string"}, {"description", "FP-xxxxxxxx or raw goal/todo id/prefix"}}},
               {"commits",
                {{"type", "boolean"}, {"description", "also list repo commits since the claim (default false)"}}}}}},
        report_handler);
}

}  // namespace ledger
