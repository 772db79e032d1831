#include "knowledge/vault_index.hpp"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <vector>

#include "fleet/paths.hpp"

namespace knowledge {

const std::string& vault_index_schema_sql() {
    static const std::string sql = R"sql(
CREATE TABLE IF NOT EXISTS vault_notes (
  path TEXT PRIMARY KEY,
  title TEXT,
  folder TEXT
);
CREATE VIRTUAL TABLE IF NOT EXISTS vault_fts USING fts5(path UNINDEXED, title, body, prefix='1 2 3');
)sql";
    return sql;
}

toolport::Result<void> create_vault_index(sqlite::Connection& db) { return db.exec(vault_index_schema_sql()); }

VaultNote vault_note(std::string_view path, std::string_view text) {
    VaultNote note;
    note.path = std::string(path);
    note.body = fleet::utf8_lossy(text);
    const auto slash = path.rfind('/');
    note.folder = slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash));
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    if (name.ends_with(".md")) name.remove_suffix(3);
    note.title = std::string(name);

    std::istringstream lines(note.body);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.starts_with("# ")) {
            const std::string heading = toolport::trim(std::string_view(line).substr(2));
            if (!heading.empty()) note.title = heading;
            break;
        }
    }
    return note;
}

toolport::Result<void> put_vault_note(sqlite::Connection& db, const VaultNote& note) {
    // The full-text row shares its rowid with the note row, so both are found
    // through the key without scanning the full-text table.
    struct Step {
        std::string_view sql;
        int parameters;  // ?1 to ?n are the path, title, folder and body
    };
    static constexpr Step steps[] = {
        {"DELETE FROM vault_fts WHERE rowid = (SELECT rowid FROM vault_notes WHERE path = ?1)", 1},
        {"DELETE FROM vault_notes WHERE path = ?1", 1},
        {"INSERT INTO vault_notes (path, title, folder) VALUES (?1, ?2, ?3)", 3},
        {"INSERT INTO vault_fts (rowid, path, title, body) "
         "VALUES ((SELECT rowid FROM vault_notes WHERE path = ?1), ?1, ?2, ?4)",
         4},
    };
    const std::string* values[] = {&note.path, &note.title, &note.folder, &note.body};
    for (const Step& step : steps) {
        auto statement = db.prepare(step.sql);
        if (!statement) return std::unexpected(statement.error());
        for (int index = 1; index <= step.parameters; ++index) {
            if (auto bound = statement->bind_text(index, *values[index - 1]); !bound) return bound;
        }
        if (auto done = statement->run(); !done) return done;
    }
    return {};
}

toolport::Result<std::size_t> build_vault_index(const std::filesystem::path& vault, const std::string& index) {
    namespace fs = std::filesystem;
    std::vector<std::string> paths;
    std::error_code ec;
    fs::recursive_directory_iterator it(vault, fs::directory_options::skip_permission_denied, ec);
    if (ec) return std::unexpected("vault " + vault.string() + ": " + ec.message());
    for (const fs::recursive_directory_iterator end; it != end; it.increment(ec)) {
        if (ec) return std::unexpected("vault " + vault.string() + ": " + ec.message());
        const fs::path& path = it->path();
        const std::string name = path.filename().string();
        if (it->is_directory(ec)) {
            if (name.starts_with('.')) it.disable_recursion_pending();
            continue;
        }
        if (name.ends_with(".md") && it->is_regular_file(ec)) {
            paths.push_back(path.lexically_relative(vault).generic_string());
        }
    }
    std::sort(paths.begin(), paths.end());

    auto db = sqlite::Connection::open(index, sqlite::read_write | sqlite::create | sqlite::uri | sqlite::no_mutex);
    if (!db) return std::unexpected(db.error());
    db->busy_timeout(std::chrono::seconds(3));
    if (auto created = create_vault_index(*db); !created) return std::unexpected(created.error());
    if (auto begun = db->exec("BEGIN IMMEDIATE; DELETE FROM vault_notes; DELETE FROM vault_fts;"); !begun) {
        return std::unexpected(begun.error());
    }
    for (const std::string& relative : paths) {
        std::ifstream file(vault / relative, std::ios::binary);
        if (!file) continue;  // unreadable: left out of the index
        std::ostringstream text;
        text << file.rdbuf();
        if (auto put = put_vault_note(*db, vault_note(relative, text.str())); !put) {
            (void)db->exec("ROLLBACK");
            return std::unexpected(put.error());
        }
    }
    if (auto committed = db->exec("COMMIT"); !committed) return std::unexpected(committed.error());
    return paths.size();
}

}  // namespace knowledge
