#include "ledger/store.hpp"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <system_error>

#include "fleet/paths.hpp"

namespace ledger {

namespace fs = std::filesystem;

namespace {

// The variable's value when it is set and non-empty.
std::optional<std::string> env_text(const char* name) {
    const char* value = std::getenv(name);
    if (!value || !*value) return std::nullopt;
    return std::string(value);
}

}  // namespace

std::string ledger_path() {
    if (auto path = env_text("WENDLE_LEDGER")) return *path;
    if (auto home = env_text("WENDLE_HOME")) return (fs::path(*home) / "ledger.db").string();
    const fs::path fallback = ".claude/velmora-cache/history.db";
    const auto home = fleet::home_dir();
    if (!home) return fallback.string();
    std::error_code ec;
    if (!fs::is_directory(*home / ".wendle", ec)) return (*home / fallback).string();
    return (*home / ".wendle" / "ledger.db").string();
}

Result<sqlite::Connection> open_at(const std::string& path) {
    auto db = sqlite::Connection::open(path, sqlite::read_write | sqlite::create | sqlite::uri | sqlite::no_mutex);
    if (!db) return db;
    db->busy_timeout(std::chrono::seconds(3));
    // Fails on an up-to-date ledger (duplicate column) and on one without the
    // table; either way there is nothing to report.
    (void)db->exec(std::string(sql::add_runner_column));
    return db;
}

Result<sqlite::Connection> open() { return open_at(ledger_path()); }

Result<std::string> query_text(sqlite::Connection& db, std::string_view statement, std::string_view param) {
    auto stmt = db.prepare(statement);
    if (!stmt) return std::unexpected(std::move(stmt.error()));
    if (auto bound = stmt->bind_text(1, param); !bound) return std::unexpected(std::move(bound.error()));
    auto row = stmt->step();
    if (!row) return std::unexpected(std::move(row.error()));
    if (!*row) return std::unexpected(std::string(sqlite::no_rows));
    return stmt->text(0);
}

std::string this_node() {
    auto db = open();
    return db ? this_node(*db) : "mac-node";
}

std::string this_node(sqlite::Connection& db) {
    auto stmt = db.prepare(sql::node_id);
    if (!stmt) return "mac-node";
    auto row = stmt->step();
    if (!row || !*row) return "mac-node";
    auto node = stmt->text(0);
    if (node && !node->empty()) return *node;
    return "mac-node";
}

std::string seconds_to_rfc3339(double seconds) {
    // Saturating conversions: NaN gives 0, out-of-range values the nearest bound.
    const auto saturate = [](double value) -> std::int64_t {
        if (std::isnan(value)) return 0;
        if (value <= static_cast<double>(std::numeric_limits<std::int64_t>::min()))
            return std::numeric_limits<std::int64_t>::min();
        if (value >= static_cast<double>(std::numeric_limits<std::int64_t>::max()))
            return std::numeric_limits<std::int64_t>::max();
        return static_cast<std::int64_t>(value);
    };
    const double whole = std::trunc(seconds);
    const double millis = std::isfinite(seconds) ? (seconds - whole) * 1000.0 : 0.0;
    const auto ms = millis > 0 ? static_cast<std::uint32_t>(std::min(millis, 999.0)) : 0u;
    return fleet::format_rfc3339(saturate(whole), ms);
}

}  // namespace ledger
