#include "ledger/claims.hpp"

#include "fleet/paths.hpp"
#include "ledger/refs.hpp"
#include "ledger/store.hpp"

namespace ledger {

using toolport::json;
using toolport::ToolOutput;

namespace {

struct ClaimState {
    std::string status;
    std::string claimant;
};

// The goal's status and claimant; none when the row is gone.
toolport::Result<std::optional<ClaimState>> read_claim_state(sqlite::Connection& db, const std::string& id) {
    auto stmt = db.prepare(sql::goal_claim_state);
    if (!stmt) return std::unexpected(std::move(stmt.error()));
    if (auto bound = stmt->bind_text(1, id); !bound) return std::unexpected(std::move(bound.error()));
    auto row = stmt->step();
    if (!row) return std::unexpected(std::move(row.error()));
    if (!*row) return std::optional<ClaimState>{};
    auto status = stmt->text(0);
    if (!status) return std::unexpected(std::move(status.error()));
    auto claimant = stmt->text(1);
    if (!claimant) return std::unexpected(std::move(claimant.error()));
    return std::optional<ClaimState>{ClaimState{std::move(*status), std::move(*claimant)}};
}

// Runs an UPDATE whose parameters `bind` sets; the number of changed rows.
template <class Bind>
toolport::Result<std::int64_t> run_update(sqlite::Connection& db, std::string_view statement, Bind&& bind) {
    auto stmt = db.prepare(statement);
    if (!stmt) return std::unexpected(std::move(stmt.error()));
    if (auto bound = bind(*stmt); !bound) return std::unexpected(std::move(bound.error()));
    if (auto ran = stmt->run(); !ran) return std::unexpected(std::move(ran.error()));
    return db.changes();
}

}  // namespace

toolport::Result<ClaimOutcome> claim_goal(std::string_view ref, const std::function<void()>& before_update) {
    auto db = open();
    if (!db) return std::unexpected(std::move(db.error()));
    const std::string node = this_node(*db);
    const fleet::Now now = fleet::now();
    const std::string session = node + "/mcp";

    auto found = resolve_ref(*db, goals_table, ref);
    if (!found) return std::unexpected(std::move(found.error()));
    if (!*found) return NotFound{};
    const std::string& id = **found;

    auto state = read_claim_state(*db, id);
    if (!state) return std::unexpected(std::move(state.error()));
    if (!*state) return std::unexpected(std::string(sqlite::no_rows));
    const auto refused = [&](const ClaimState& s) {
        return s.status == "met" || (!s.claimant.empty() && s.claimant != node);
    };
    if (refused(**state)) return Refused{(*state)->claimant, work_ref(id)};

    if (before_update) before_update();
    auto changed = run_update(*db, sql::claim_goal, [&](sqlite::Statement& stmt) {
        return sqlite::first_failure(stmt.bind_text(1, node), stmt.bind_text(2, now.rfc3339), stmt.bind_text(3, session),
                         stmt.bind_double(4, now.seconds), stmt.bind_text(5, id));
    });
    if (!changed) return std::unexpected(std::move(changed.error()));
    if (*changed == 0) {
        // Another writer claimed or closed the goal after it was read: report
        // who holds it now instead of a claim that did not happen.
        auto current = read_claim_state(*db, id);
        if (!current) return std::unexpected(std::move(current.error()));
        if (!*current) return NotFound{};
        return Refused{(*current)->claimant, work_ref(id)};
    }

    const std::string text = query_text(*db, sql::goal_text, id).value_or("");
    return json{{"claimed", true}, {"goal_id", id}, {"held_by", node},
                {"node", node},    {"ref", work_ref(id)}, {"text", text}};
}

toolport::Result<DoneOutcome> complete_work(std::string_view ref, const std::optional<std::string>& note) {
    auto db = open();
    if (!db) return std::unexpected(std::move(db.error()));
    const std::string node = this_node(*db);
    const fleet::Now now = fleet::now();

    auto goal = resolve_ref(*db, goals_table, ref);
    if (!goal) return std::unexpected(std::move(goal.error()));
    auto todo = resolve_ref(*db, todos_table, ref);
    if (!todo) return std::unexpected(std::move(todo.error()));
    if (*goal && *todo) return std::unexpected("ambiguous ref '" + std::string(ref) + "' matches a goal AND a todo");
    if (!*goal && !*todo) return NotFound{};

    const bool is_goal = goal->has_value();
    const std::string& id = is_goal ? **goal : **todo;
    // As for claims, an item that is already closed is left as it is.
    auto changed = is_goal ? run_update(*db, sql::complete_goal,
                                        [&](sqlite::Statement& stmt) {
                                            return sqlite::first_failure(stmt.bind_text(1, node), stmt.bind_text(2, now.rfc3339),
                                                             stmt.bind_optional_text(3, note),
                                                             stmt.bind_double(4, now.seconds), stmt.bind_text(5, id));
                                        })
                           : run_update(*db, sql::complete_todo, [&](sqlite::Statement& stmt) {
                                 return sqlite::first_failure(stmt.bind_double(1, now.seconds), stmt.bind_text(2, id));
                             });
    if (!changed) return std::unexpected(std::move(changed.error()));
    const std::string text = query_text(*db, is_goal ? sql::goal_text : sql::todo_text, id).value_or("");
    return json{{"done", true},
                {"id", id},
                {"kind", is_goal ? "goal" : "todo"},
                {"node", node},
                {"ref", work_ref(id)},
                {"status", is_goal ? "met" : "done"},
                {"text", text}};
}

namespace {

ToolOutput claim_call(const json& args) {
    const auto ref = toolport::str(args, "ref");
    if (!ref) return ToolOutput::failure("ref is required");
    auto outcome = claim_goal(*ref);
    if (!outcome) return ToolOutput::failure(std::move(outcome.error()));
    if (std::holds_alternative<NotFound>(*outcome)) return ToolOutput::failure("no open goal matches '" + *ref + "'");
    if (const auto* refused = std::get_if<Refused>(&*outcome))
        return ToolOutput::failure(refused->ref + " is already claimed by " + refused->claimant);
    return ToolOutput::success(toolport::dump(std::get<json>(*outcome)));
}

ToolOutput done_call(const json& args) {
    const auto ref = toolport::str(args, "ref");
    if (!ref) return ToolOutput::failure("ref is required");
    auto outcome = complete_work(*ref, toolport::str(args, "note"));
    if (!outcome) return ToolOutput::failure(std::move(outcome.error()));
    if (std::holds_alternative<NotFound>(*outcome))
        return ToolOutput::failure("no open goal/todo matches '" + *ref + "'");
    return ToolOutput::success(toolport::dump(std::get<json>(*outcome)));
}

}  // namespace

toolport::Tool tool_work_claim() {
    return toolport::Tool(
        "work_claim",
        "Claim a GOAL by ref (FP-xxxxxxxx) or id/prefix — compare-and-set, succeeds if unclaimed or already held by "
        "this node. Returns {claimed, goal_id, ref, node, held_by, text}.",
        json{{"type", "object"},
             {"required", json::array({"ref"})},
             {"properties", {{"ref", {{"type", "string"}, {"description", "FP-xxxxxxxx or raw goal id/prefix"}}}}}},
        toolport::inline_handler(claim_call));
}

toolport::Tool tool_work_done() {
    return toolport::Tool(
        "work_done",
        "Complete a work item by ref (FP-xxxxxxxx) or id. Goal→met, todo→done. Optional note→goal assessment. "
        "Returns {done,kind,id,ref,status,node,text}. Retains the claim.",
        json{{"type", "object"},
             {"required", json::array({"ref"})},
             {"properties",
              {{"ref", {{"type", "string"}}},
               {"note", {{"type", "string"}, {"description", "goal assessment note (optional)"}}}}}},
        toolport::inline_handler(done_call));
}

}  // namespace ledger
