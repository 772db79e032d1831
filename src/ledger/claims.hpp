// Claiming goals and completing goals and todos.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include <toolport/toolport.hpp>

#include "ledger/refs.hpp"

namespace ledger {

// The goal is met, or held by another node (the claimant may be empty).
struct Refused {
    std::string claimant;
    std::string ref;
};

// Claimed: {claimed, goal_id, held_by, node, ref, text}.
using ClaimOutcome = std::variant<toolport::json, Refused, NotFound>;

// Claims a goal for this node as a compare-and-set. `before_update` runs
// between the read of the goal's claim and the guarded update (tests use it to
// let another writer in).
toolport::Result<ClaimOutcome> claim_goal(std::string_view ref, const std::function<void()>& before_update = {});

// Completed: {done, id, kind, node, ref, status, text}.
using DoneOutcome = std::variant<toolport::json, NotFound>;

// Closes a goal (met, with the note as its assessment when given) or a todo.
toolport::Result<DoneOutcome> complete_work(std::string_view ref, const std::optional<std::string>& note);

toolport::Tool tool_work_claim();
toolport::Tool tool_work_done();

}  // namespace ledger
