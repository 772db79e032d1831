// Work refs: "FP-" and the first eight letters or digits of a row id, the
// short name of a goal or todo on every machine of the fleet.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <toolport/toolport.hpp>

#include "ledger/sqlite.hpp"

namespace ledger {

// The answer of an operation whose ref names no row.
struct NotFound {};

std::string work_ref(std::string_view id);

// The one id that a ref, a raw id or an id prefix names among `ids`: none when
// nothing matches, the failure "ambiguous ref ..." when several do.
toolport::Result<std::optional<std::string>> match_ref(const std::vector<std::string>& ids, std::string_view ref);

// match_ref over every id of `table` ("project_goals" or "project_todos").
toolport::Result<std::optional<std::string>> resolve_ref(sqlite::Connection& db, std::string_view table,
                                                         std::string_view ref);

}  // namespace ledger
