// The shared note vault: full-text search over its prebuilt index, and reads
// of single notes confined to the vault root.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include <toolport/toolport.hpp>

namespace knowledge {

using toolport::json;
using toolport::Result;

// The FTS5 match expression for a free-text query: every run of Unicode
// letters and digits becomes a quoted prefix phrase ("foo"*), joined by single
// spaces (an AND). Everything else separates, so no operator, column filter or
// quote of the caller's can reach FTS5. Empty when the query has no words.
std::string match_expression(std::string_view query);

// WENDLE_VAULT when set and non-empty, else <fleet home>/vault; not canonical.
std::filesystem::path vault_root();
// <home>/.claude/velmora-cache/vault-index.db.
std::filesystem::path vault_index_path();

// The hits for the query, best first, as a JSON array of
// {folder, path, snippet, title}; the SQLite message on failure.
Result<json> vault_search(std::string_view query, std::int64_t limit);
// The whole text of the note at a vault-relative path.
Result<std::string> vault_read(std::string_view path);

toolport::Tool tool_vault_search();
toolport::Tool tool_vault_read();

}  // namespace knowledge
