#include "ledger/sqlite.hpp"

#include <utility>

namespace sqlite {

std::string_view type_name(Type type) {
    switch (type) {
        case Type::integer: return "Integer";
        case Type::real: return "Real";
        case Type::text: return "Text";
        case Type::blob: return "Blob";
        case Type::null: return "Null";
    }
    return "Null";
}

// ---------------------------------------------------------------- connection

Result<Connection> Connection::open(const std::string& path, int flags) {
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
    if (rc != SQLITE_OK) {
        std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
        sqlite3_close_v2(db);
        return std::unexpected(std::move(message));
    }
    return Connection(db);
}

Connection::Connection(Connection&& other) noexcept : db_(std::exchange(other.db_, nullptr)) {}

Connection& Connection::operator=(Connection&& other) noexcept {
    if (this != &other) {
        sqlite3_close_v2(db_);
        db_ = std::exchange(other.db_, nullptr);
    }
    return *this;
}

Connection::~Connection() { sqlite3_close_v2(db_); }

void Connection::busy_timeout(std::chrono::milliseconds timeout) {
    sqlite3_busy_timeout(db_, static_cast<int>(timeout.count()));
}

Result<void> Connection::exec(const std::string& sql) {
    char* error = nullptr;
    const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error);
    if (rc == SQLITE_OK) return {};
    std::string message = error ? error : sqlite3_errstr(rc);
    sqlite3_free(error);
    return std::unexpected(std::move(message));
}

Result<Statement> Connection::prepare(std::string_view sql) {
    sqlite3_stmt* stmt = nullptr;
    const int rc = sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_finalize(stmt);
        return std::unexpected(error_message());
    }
    if (!stmt) return std::unexpected(std::string("not an SQL statement"));
    return Statement(db_, stmt);
}

std::int64_t Connection::changes() const { return sqlite3_changes64(db_); }

std::string Connection::error_message() const { return sqlite3_errmsg(db_); }

// ----------------------------------------------------------------- statement

Statement::Statement(Statement&& other) noexcept
    : db_(std::exchange(other.db_, nullptr)), stmt_(std::exchange(other.stmt_, nullptr)) {}

Statement& Statement::operator=(Statement&& other) noexcept {
    if (this != &other) {
        sqlite3_finalize(stmt_);
        db_ = std::exchange(other.db_, nullptr);
        stmt_ = std::exchange(other.stmt_, nullptr);
    }
    return *this;
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

Result<void> Statement::check_bind(int rc) const {
    if (rc == SQLITE_OK) return {};
    return std::unexpected(std::string(sqlite3_errmsg(db_)));
}

Result<void> Statement::bind_text(int index, std::string_view value) {
    return check_bind(sqlite3_bind_text64(stmt_, index, value.data(), value.size(), SQLITE_TRANSIENT, SQLITE_UTF8));
}

Result<void> Statement::bind_int64(int index, std::int64_t value) {
    return check_bind(sqlite3_bind_int64(stmt_, index, value));
}

Result<void> Statement::bind_double(int index, double value) {
    return check_bind(sqlite3_bind_double(stmt_, index, value));
}

Result<void> Statement::bind_null(int index) { return check_bind(sqlite3_bind_null(stmt_, index)); }

Result<void> Statement::bind_optional_text(int index, const std::optional<std::string>& value) {
    return value ? bind_text(index, *value) : bind_null(index);
}

Result<bool> Statement::step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    return std::unexpected(std::string(sqlite3_errmsg(db_)));
}

Result<void> Statement::run() {
    for (;;) {
        auto row = step();
        if (!row) return std::unexpected(std::move(row.error()));
        if (!*row) return {};
    }
}

void Statement::reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

int Statement::column_count() const { return sqlite3_column_count(stmt_); }

Type Statement::column_type(int column) const {
    switch (sqlite3_column_type(stmt_, column)) {
        case SQLITE_INTEGER: return Type::integer;
        case SQLITE_FLOAT: return Type::real;
        case SQLITE_TEXT: return Type::text;
        case SQLITE_BLOB: return Type::blob;
        default: return Type::null;
    }
}

bool Statement::column_is_null(int column) const { return column_type(column) == Type::null; }

std::string Statement::column_name(int column) const {
    const char* name = sqlite3_column_name(stmt_, column);
    return name ? name : "";
}

std::string Statement::column_text(int column) const {
    const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
    if (!bytes) return {};
    return std::string(bytes, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)));
}

std::int64_t Statement::column_int64(int column) const { return sqlite3_column_int64(stmt_, column); }

double Statement::column_double(int column) const { return sqlite3_column_double(stmt_, column); }

std::string Statement::wrong_type(int column) const {
    if (column < 0 || column >= column_count()) return "Invalid column index: " + std::to_string(column);
    return "Invalid column type " + std::string(type_name(column_type(column))) + " at index: " +
           std::to_string(column) + ", name: " + column_name(column);
}

Result<std::string> Statement::text(int column) const {
    if (column < 0 || column >= column_count() || column_type(column) != Type::text)
        return std::unexpected(wrong_type(column));
    return column_text(column);
}

Result<std::int64_t> Statement::integer(int column) const {
    if (column < 0 || column >= column_count() || column_type(column) != Type::integer)
        return std::unexpected(wrong_type(column));
    return column_int64(column);
}

Result<double> Statement::real(int column) const {
    if (column < 0 || column >= column_count()) return std::unexpected(wrong_type(column));
    const Type type = column_type(column);
    if (type == Type::integer) return static_cast<double>(column_int64(column));
    if (type == Type::real) return column_double(column);
    return std::unexpected(wrong_type(column));
}

Result<std::optional<double>> Statement::optional_real(int column) const {
    if (column >= 0 && column < column_count() && column_type(column) == Type::null)
        return std::optional<double>{};
    auto value = real(column);
    if (!value) return std::unexpected(std::move(value.error()));
    return std::optional<double>{*value};
}

}  // namespace sqlite
