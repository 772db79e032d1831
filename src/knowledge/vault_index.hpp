// The vault's full-text index: the tables the search reads, and a builder
// that fills them from the notes of a vault folder. The server never calls
// the builder; the indexer stand-in, the tests and the benchmark do.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include <toolport/toolport.hpp>

#include "ledger/sqlite.hpp"

namespace knowledge {

// One note as the index holds it.
struct VaultNote {
    std::string path;    // vault-relative, "/"-separated: the key
    std::string title;   // the first "# " heading, else the file name without ".md"
    std::string folder;  // the path's folder part, "" at the top of the vault
    std::string body;    // the whole text
};

// Statements creating vault_notes(path, title, folder) and the FTS5 table
// vault_fts(path, title, body) when they are missing.
const std::string& vault_index_schema_sql();

toolport::Result<void> create_vault_index(sqlite::Connection& db);

// The index entry for the note at a vault-relative path with this text.
VaultNote vault_note(std::string_view path, std::string_view text);

// Replaces the note's rows (by path) in both tables.
toolport::Result<void> put_vault_note(sqlite::Connection& db, const VaultNote& note);

// Rebuilds the index file at `index` from every ".md" file below `vault`
// (hidden folders are passed over), in one transaction; creates the file and
// its tables when missing. Returns the number of notes indexed.
toolport::Result<std::size_t> build_vault_index(const std::filesystem::path& vault, const std::string& index);

}  // namespace knowledge
