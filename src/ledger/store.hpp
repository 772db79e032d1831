// The companion's ledger file: where it is, how a connection is opened, this
// node's fleet id, and every statement the server runs against it.
#pragma once

#include <string>
#include <string_view>

#include <toolport/toolport.hpp>

#include "ledger/sqlite.hpp"

namespace ledger {

using toolport::Result;

// The statement catalogue: nothing else in the server speaks SQL to the ledger.
namespace sql {
inline constexpr std::string_view add_runner_column =
    "ALTER TABLE project_goals ADD COLUMN runner TEXT NOT NULL DEFAULT '';";
inline constexpr std::string_view node_id = "SELECT v FROM federation_identity WHERE k='node_id'";
// Followed by the table name "project_goals" or "project_todos".
inline constexpr std::string_view ids_from = "SELECT id FROM ";
inline constexpr std::string_view session_projects =
    "SELECT project_key, coalesce(project_name,''), MAX(last_updated_at) FROM sessions WHERE project_key != '' "
    "GROUP BY project_key";
inline constexpr std::string_view open_items =
    "SELECT id, text FROM project_goals WHERE project_key=?1 AND status!='met' AND done=0 UNION ALL SELECT id, "
    "text FROM project_todos WHERE project_key=?1 AND status='open'";
inline constexpr std::string_view insert_todo =
    "INSERT INTO project_todos (id, project_key, text, status, source, sort, created_at, origin_host, updated_at) "
    "VALUES (?1,?2,?3,'open','mcp',0,?4,?5,?6)";
inline constexpr std::string_view insert_goal =
    "INSERT INTO project_goals (id, project_key, text, done, status, sort, created_at, acceptance_criteria, "
    "origin_host, target_host, runner, updated_at) VALUES (?1,?2,?3,0,'open',0,?4,?5,?6,?7,?8,?4)";
inline constexpr std::string_view goal_claim_state =
    "SELECT status, coalesce(claimed_by_node,'') FROM project_goals WHERE id=?1";
inline constexpr std::string_view claim_goal =
    "UPDATE project_goals SET claimed_by_node=?1, claimed_at=?2, claimed_session=?3, status='in_progress', "
    "updated_at=?4 WHERE id=?5 AND status!='met' AND (coalesce(claimed_by_node,'')='' OR claimed_by_node=?1)";
inline constexpr std::string_view goal_text = "SELECT text FROM project_goals WHERE id=?1";
inline constexpr std::string_view complete_todo =
    "UPDATE project_todos SET status='done', completed_at=?1, updated_at=?1 WHERE id=?2 AND status='open'";
inline constexpr std::string_view todo_text = "SELECT text FROM project_todos WHERE id=?1";
inline constexpr std::string_view complete_goal =
    "UPDATE project_goals SET status='met', done=1, shipped_by=?1, shipped_at=?2, assessment_note=CASE WHEN ?3 IS "
    "NOT NULL THEN ?3 ELSE assessment_note END, last_assessed_at=?4, updated_at=?4 WHERE id=?5 AND status!='met'";
inline constexpr std::string_view list_goals =
    "SELECT id, text, status, coalesce(acceptance_criteria,''), coalesce(claimed_by_node,''), "
    "coalesce(target_host,'') FROM project_goals WHERE project_key=?1 AND status!='met' AND done=0 ORDER BY sort, "
    "created_at";
inline constexpr std::string_view list_todos =
    "SELECT id, text FROM project_todos WHERE project_key=?1 AND status='open' ORDER BY sort, created_at";
inline constexpr std::string_view goal_report =
    "SELECT project_key, text, status, done, coalesce(acceptance_criteria,''), coalesce(claimed_by_node,''), "
    "coalesce(target_host,''), coalesce(runner,''), coalesce(claimed_at,''), coalesce(claimed_session,''), "
    "coalesce(assessment_note,''), coalesce(shipped_by,''), coalesce(shipped_at,''), coalesce(blocker,''), "
    "coalesce(origin_host,''), created_at, last_assessed_at FROM project_goals WHERE id=?1";
inline constexpr std::string_view todo_report =
    "SELECT project_key, text, status, coalesce(claimed_by_node,''), coalesce(claimed_at,''), "
    "coalesce(shipped_by,''), created_at, completed_at FROM project_todos WHERE id=?1";
}  // namespace sql

inline constexpr std::string_view goals_table = "project_goals";
inline constexpr std::string_view todos_table = "project_todos";

// WENDLE_LEDGER, else WENDLE_HOME/ledger.db, else ~/.wendle/ledger.db when
// ~/.wendle is a directory, else ~/.claude/velmora-cache/history.db.
std::string ledger_path();

// Opens the ledger read-write (created when missing) with a 3 s busy timeout
// and adds the runner column when it is missing, silently.
Result<sqlite::Connection> open();
// Opens a given file the same way.
Result<sqlite::Connection> open_at(const std::string& path);

// This node's fleet id from federation_identity, or "mac-node", read on a
// connection of its own.
std::string this_node();
// The same, read on a connection an operation already holds.
std::string this_node(sqlite::Connection& db);

// Runs a statement that takes the text ?1 and yields one text column; the
// first row's value, or the failure text (no row: sqlite::no_rows).
Result<std::string> query_text(sqlite::Connection& db, std::string_view statement, std::string_view param);

// A real column's seconds as RFC 3339 text: seconds truncated toward zero,
// milliseconds from the truncated fraction.
std::string seconds_to_rfc3339(double seconds);

}  // namespace ledger
