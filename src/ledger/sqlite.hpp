// A small RAII wrapper over the SQLite C library: a connection, a prepared
// statement, positional binding, stepping and typed column reads. Every
// failure carries the library's own message text.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <sqlite3.h>

#include <toolport/toolport.hpp>

namespace sqlite {

using toolport::Result;

// Open flags, as the library defines them.
inline constexpr int read_only = SQLITE_OPEN_READONLY;
inline constexpr int read_write = SQLITE_OPEN_READWRITE;
inline constexpr int create = SQLITE_OPEN_CREATE;
inline constexpr int uri = SQLITE_OPEN_URI;
inline constexpr int no_mutex = SQLITE_OPEN_NOMUTEX;

// The storage class of a column value.
enum class Type { integer, real, text, blob, null };
// "Integer", "Real", "Text", "Blob" or "Null".
std::string_view type_name(Type type);

class Statement;

class Connection {
public:
    // Opens the database at `path` (a URI name when `flags` has `uri`).
    // Failure: the library's message, e.g. "unable to open database file".
    static Result<Connection> open(const std::string& path, int flags);

    Connection(Connection&& other) noexcept;
    Connection& operator=(Connection&& other) noexcept;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection();

    void busy_timeout(std::chrono::milliseconds timeout);
    // Runs one or more statements separated by semicolons, discarding rows.
    Result<void> exec(const std::string& sql);
    Result<Statement> prepare(std::string_view sql);
    // Rows changed by the most recent INSERT, UPDATE or DELETE.
    std::int64_t changes() const;
    std::string error_message() const;
    sqlite3* handle() const { return db_; }

private:
    explicit Connection(sqlite3* db) : db_(db) {}
    sqlite3* db_ = nullptr;
};

class Statement {
public:
    Statement(Statement&& other) noexcept;
    Statement& operator=(Statement&& other) noexcept;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    ~Statement();

    // Parameters are numbered from 1, as in "?1".
    Result<void> bind_text(int index, std::string_view value);
    Result<void> bind_int64(int index, std::int64_t value);
    Result<void> bind_double(int index, double value);
    Result<void> bind_null(int index);
    // Binds the text, or NULL when there is none.
    Result<void> bind_optional_text(int index, const std::optional<std::string>& value);

    // True while a row is available; false once the statement is done.
    Result<bool> step();
    // Steps to completion, for statements that return no rows.
    Result<void> run();
    // Calls `row(*this)` for every row; a failing step ends it with the failure.
    template <class F>
    Result<void> each_row(F&& row) {
        for (;;) {
            auto more = step();
            if (!more) return std::unexpected(std::move(more.error()));
            if (!*more) return {};
            row(static_cast<const Statement&>(*this));
        }
    }
    void reset();

    // Columns are numbered from 0.
    int column_count() const;
    Type column_type(int column) const;
    bool column_is_null(int column) const;
    std::string column_name(int column) const;
    // Raw reads with the library's conversions (NULL reads as "" or 0).
    std::string column_text(int column) const;
    std::int64_t column_int64(int column) const;
    double column_double(int column) const;

    // Strict reads: the value must already be of the kind asked for, else the
    // failure "Invalid column type Real at index: 2, name: created_at".
    Result<std::string> text(int column) const;
    Result<std::int64_t> integer(int column) const;
    // An integer or a real.
    Result<double> real(int column) const;
    // NULL reads as none; otherwise as real().
    Result<std::optional<double>> optional_real(int column) const;

private:
    friend class Connection;
    Statement(sqlite3* db, sqlite3_stmt* stmt) : db_(db), stmt_(stmt) {}
    Result<void> check_bind(int rc) const;
    std::string wrong_type(int column) const;
    sqlite3* db_ = nullptr;
    sqlite3_stmt* stmt_ = nullptr;
};

// The first failure among results already produced, such as a row of binds.
template <class... Results>
Result<void> first_failure(Results... results) {
    for (auto* result : {&results...})
        if (!*result) return std::move(*result);
    return {};
}

// The failure text of a query that was expected to yield a row and did not.
inline constexpr std::string_view no_rows = "Query returned no rows";

}  // namespace sqlite
