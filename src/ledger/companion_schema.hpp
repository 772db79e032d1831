// The companion's ledger tables, created the way the companion creates them,
// for a self-contained build (the demo ledger) and for tests. The server
// itself never creates a table in the ledger.
#pragma once

#include <string>

#include <toolport/toolport.hpp>

#include "ledger/sqlite.hpp"

namespace ledger {

// The statements that create project_goals, project_todos, sessions and
// federation_identity when they are missing.
const std::string& companion_schema_sql();

// Creates the four tables on an open connection.
toolport::Result<void> create_companion_tables(sqlite::Connection& db);

// Opens (creating when missing) the database file and creates the tables.
toolport::Result<void> create_companion_ledger(const std::string& path);

}  // namespace ledger
