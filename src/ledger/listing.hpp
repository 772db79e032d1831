// Reading the ledger: a project's open work and one item's outcome report,
// with the repository's commits since the claim.
#pragma once

#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <boost/asio/awaitable.hpp>
#include <toolport/toolport.hpp>

#include "fleet/process.hpp"
#include "ledger/refs.hpp"
#include "ledger/sqlite.hpp"

namespace ledger {

// {"goals": [{ref,text,status,criteria,held_by?,routed_to?}], "todos": [{ref,text}]}
toolport::Result<toolport::json> work_list(std::string_view project_key);

using ReportOutcome = std::variant<toolport::json, NotFound>;

// The goal or todo report of the item a ref names.
toolport::Result<ReportOutcome> work_report_in(sqlite::Connection& db, std::string_view ref);

// git -C DIR log --since STAMP --max-count=20 "--format=%h %s", 10 s limit.
fleet::Command git_log_command(const std::string& dir, const std::string& since);

// The commit lines of a finished git log, or the commits_error text.
toolport::Result<std::vector<std::string>> git_log_lines(const fleet::Outcome& outcome);

boost::asio::awaitable<toolport::Result<std::vector<std::string>>> commits_since(std::string dir, std::string since);

// The report with "commits" or "commits_error" added (or nothing added when
// git listed no commit).
boost::asio::awaitable<toolport::json> with_commits(toolport::json report);

toolport::Tool tool_work_list();
toolport::Tool tool_work_report();

}  // namespace ledger
