#include "knowledge/vault.hpp"

#include <chrono>
#include <cstdlib>
#include <limits>

#include "fleet/paths.hpp"
#include "knowledge/confine.hpp"
#include "knowledge/unicode_alnum.hpp"
#include "ledger/sqlite.hpp"

namespace knowledge {

namespace asio = boost::asio;
using toolport::ToolOutput;

namespace {

// Decodes one UTF-8 sequence at `i`, advancing it; malformed bytes come out
// as U+FFFD one at a time, which the caller treats as a separator.
char32_t next_code_point(std::string_view text, std::size_t& i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    std::size_t length = 0;
    char32_t c = 0;
    char32_t min = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, c = lead & 0x1F, min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, c = lead & 0x0F, min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, c = lead & 0x07, min = 0x10000;
    } else {
        ++i;
        return 0xFFFD;
    }
    if (i + length > text.size()) {
        ++i;
        return 0xFFFD;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        c = (c << 6) | (byte(i + k) & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        ++i;
        return 0xFFFD;
    }
    i += length;
    return c;
}

constexpr std::string_view search_sql =
    "SELECT n.path, n.title, n.folder, snippet(vault_fts, 2, '', '', ' … ', 12) FROM vault_fts f JOIN vault_notes n "
    "ON n.path = f.path WHERE vault_fts MATCH ?1 ORDER BY rank LIMIT ?2";

}  // namespace

std::string match_expression(std::string_view query) {
    std::string expression;
    std::size_t i = 0;
    while (i < query.size()) {
        // Skip separators, then take one run of letters and digits.
        std::size_t start = i;
        if (!is_alphanumeric(next_code_point(query, i))) continue;
        std::size_t end = i;
        while (i < query.size()) {
            std::size_t at = i;
            if (!is_alphanumeric(next_code_point(query, at))) break;
            end = i = at;
        }
        if (!expression.empty()) expression += ' ';
        expression += '"';
        expression += query.substr(start, end - start);
        expression += "\"*";
    }
    return expression;
}

std::filesystem::path vault_root() {
    const char* vault = std::getenv("WENDLE_VAULT");
    if (vault != nullptr && *vault != '\0') return vault;
    return fleet::fleet_home() / "vault";
}

std::filesystem::path vault_index_path() {
    return fleet::home_dir().value_or(std::filesystem::path()) / ".claude" / "velmora-cache" / "vault-index.db";
}

Result<json> vault_search(std::string_view query, std::int64_t limit) {
    const std::string expression = match_expression(query);
    json hits = json::array();
    if (expression.empty()) return hits;

    auto db = sqlite::Connection::open(vault_index_path().string(),
                                       sqlite::read_write | sqlite::create | sqlite::uri | sqlite::no_mutex);
    if (!db) return std::unexpected(db.error());
    db->busy_timeout(std::chrono::seconds(3));
    auto statement = db->prepare(search_sql);
    if (!statement) return std::unexpected(statement.error());
    if (auto bound = statement->bind_text(1, expression); !bound) return std::unexpected(bound.error());
    if (auto bound = statement->bind_int64(2, limit); !bound) return std::unexpected(bound.error());

    for (;;) {
        // A failed step (a lock held past the time-out, a damaged index) is
        // reported rather than passed off as a short list of hits.
        const auto row = statement->step();
        if (!row) return std::unexpected(row.error());
        if (!*row) break;
        // A row that cannot be read as text in all four columns (NULL, a
        // number, a blob, bytes that are not UTF-8) is left out.
        bool all_text = true;
        for (int column = 0; column < 4; ++column) {
            all_text = all_text && statement->column_type(column) == sqlite::Type::text &&
                       toolport::valid_utf8(statement->column_text(column));
        }
        if (!all_text) continue;
        hits.push_back({{"path", statement->column_text(0)},
                        {"title", statement->column_text(1)},
                        {"folder", statement->column_text(2)},
                        {"snippet", statement->column_text(3)}});
    }
    return hits;
}

Result<std::string> vault_read(std::string_view path) {
    namespace fs = std::filesystem;
    const std::string trimmed = toolport::trim(path);
    if (trimmed.empty()) return std::unexpected(std::string("path is required"));
    const auto escapes = [&] { return std::unexpected("path '" + trimmed + "' escapes the vault"); };
    if (climbs_out(trimmed)) return escapes();

    std::error_code ec;
    const fs::path root = fs::canonical(vault_root(), ec);
    if (ec) return std::unexpected("vault root unavailable: " + ec.message());
    const auto resolved = resolve_below(root, trimmed);
    if (!resolved) return std::unexpected("no vault note at '" + trimmed + "'");
    const fs::path& note = *resolved;
    if (!lies_under(note, root)) return escapes();
    if (!fs::is_regular_file(note, ec)) return std::unexpected("'" + trimmed + "' is not a file");

    auto file = read_file(note, std::numeric_limits<std::size_t>::max());
    if (!file) return std::unexpected("read '" + trimmed + "': " + file.error());
    if (!toolport::valid_utf8(file->bytes)) {
        return std::unexpected("read '" + trimmed + "': stream did not contain valid UTF-8");
    }
    return std::move(file->bytes);
}

toolport::Tool tool_vault_search() {
    json schema = {
        {"type", "object"},
        {"properties",
         {{"query", {{"type", "string"}}},
          {"limit", {{"type", "integer"}, {"description", "max hits (default 10)"}}}}},
        {"required", json::array({"query"})},
    };
    return toolport::Tool(
        "vault_search",
        "Full-text search the shared Second Brain vault. Returns [{path, title, folder, snippet}]; `path` is "
        "vault-relative and round-trips through vault_read. `limit` defaults to 10.",
        std::move(schema), toolport::inline_handler([](const json& args) -> ToolOutput {
            const auto query = toolport::required_str(args, "query");
            if (!query) return query.error();
            const auto given = toolport::int64(args, "limit");
            const std::int64_t limit = given && *given > 0 ? *given : 10;
            const auto hits = vault_search(*query, limit);
            if (!hits) return ToolOutput::failure(hits.error());
            return ToolOutput::success(toolport::dump(*hits));
        }));
}

toolport::Tool tool_vault_read() {
    json schema = {
        {"type", "object"},
        {"properties",
         {{"path", {{"type", "string"}, {"description", "vault-relative, e.g. Wiki/Concepts/x.md"}}}}},
        {"required", json::array({"path"})},
    };
    return toolport::Tool(
        "vault_read",
        "Read a Second Brain note by its vault-relative path (as returned by vault_search). Returns the raw "
        "markdown. Reads are confined to the vault root.",
        std::move(schema), toolport::inline_handler([](const json& args) -> ToolOutput {
            const auto path = toolport::str(args, "path");
            if (!path) return ToolOutput::failure("path is required");
            auto note = vault_read(*path);
            if (!note) return ToolOutput::failure(note.error());
            return ToolOutput::success(std::move(*note));
        }));
}

}  // namespace knowledge
