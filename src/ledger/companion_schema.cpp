#include "ledger/companion_schema.hpp"

namespace ledger {

const std::string& companion_schema_sql() {
    static const std::string sql = R"sql(
CREATE TABLE IF NOT EXISTS project_goals (
  id TEXT PRIMARY KEY,
  project_key TEXT NOT NULL,
  text TEXT NOT NULL,
  done INTEGER NOT NULL DEFAULT 0,
  status TEXT NOT NULL DEFAULT 'open',
  sort INTEGER NOT NULL DEFAULT 0,
  created_at REAL,
  updated_at REAL,
  acceptance_criteria TEXT,
  origin_host TEXT,
  target_host TEXT NOT NULL DEFAULT '',
  runner TEXT NOT NULL DEFAULT '',
  claimed_by_node TEXT,
  claimed_at TEXT,
  claimed_session TEXT,
  assessment_note TEXT,
  shipped_by TEXT,
  shipped_at TEXT,
  last_assessed_at REAL,
  blocker TEXT
);
CREATE INDEX IF NOT EXISTS project_goals_by_project ON project_goals (project_key, sort, created_at);
CREATE TABLE IF NOT EXISTS project_todos (
  id TEXT PRIMARY KEY,
  project_key TEXT NOT NULL,
  text TEXT NOT NULL,
  status TEXT NOT NULL DEFAULT 'open',
  source TEXT,
  sort INTEGER NOT NULL DEFAULT 0,
  created_at REAL,
  origin_host TEXT,
  updated_at,
  completed_at REAL,
  claimed_by_node TEXT,
  claimed_at TEXT,
  shipped_by TEXT
);
CREATE INDEX IF NOT EXISTS project_todos_by_project ON project_todos (project_key, sort, created_at);
CREATE TABLE IF NOT EXISTS sessions (
  id TEXT PRIMARY KEY,
  project_key TEXT NOT NULL DEFAULT '',
  project_name TEXT,
  last_updated_at REAL
);
CREATE INDEX IF NOT EXISTS sessions_by_project ON sessions (project_key);
CREATE TABLE IF NOT EXISTS federation_identity (
  k TEXT PRIMARY KEY,
  v TEXT
);
)sql";
    return sql;
}

toolport::Result<void> create_companion_tables(sqlite::Connection& db) { return db.exec(companion_schema_sql()); }

toolport::Result<void> create_companion_ledger(const std::string& path) {
    auto db = sqlite::Connection::open(path, sqlite::read_write | sqlite::create | sqlite::uri | sqlite::no_mutex);
    if (!db) return std::unexpected(std::move(db.error()));
    return create_companion_tables(*db);
}

}  // namespace ledger
