// Scratch directories, ledger files and environment overrides for the
// ledger's tests and benchmarks. Scratch directories live under /var/tmp:
// paths under /tmp count as ephemeral and never reach the project list.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>

#include "ledger/sqlite.hpp"

namespace ledger_test {

namespace fs = std::filesystem;

// Sets or unsets environment variables, restoring the old values on exit.
class EnvGuard {
public:
    EnvGuard() = default;
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;
    ~EnvGuard() {
        for (const auto& [name, value] : saved_) {
            if (value) ::setenv(name.c_str(), value->c_str(), 1);
            else ::unsetenv(name.c_str());
        }
    }
    void set(const std::string& name, std::optional<std::string> value) {
        if (!saved_.contains(name)) {
            const char* old = std::getenv(name.c_str());
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        if (value) ::setenv(name.c_str(), value->c_str(), 1);
        else ::unsetenv(name.c_str());
    }

private:
    std::map<std::string, std::optional<std::string>> saved_;
};

// A fresh canonical directory under /var/tmp, removed with its owner.
class ScratchDir {
public:
    ScratchDir() {
        std::string pattern = "/var/tmp/ledgerXXXXXX";
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = fs::canonical(pattern);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    ~ScratchDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }
    // Creates a directory below the scratch root and returns its path.
    fs::path dir(const std::string& relative) const {
        fs::create_directories(path_ / relative);
        return path_ / relative;
    }

private:
    fs::path path_;
};

// The companion's dash key of a directory: every "/" replaced by "-".
inline std::string dash_key(const fs::path& dir) {
    std::string key = dir.string();
    for (char& c : key)
        if (c == '/') c = '-';
    return key;
}

inline void write_file(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

inline sqlite::Connection connect(const fs::path& file) {
    auto db = sqlite::Connection::open(file.string(), sqlite::read_write | sqlite::create);
    if (!db) throw std::runtime_error(db.error());
    return std::move(*db);
}

inline void exec(const fs::path& file, const std::string& sql) {
    auto db = connect(file);
    if (auto done = db.exec(sql); !done) throw std::runtime_error(done.error() + " in: " + sql);
}

// The first column of the first row of a query, as text ("NULL" for NULL).
inline std::string scalar(const fs::path& file, const std::string& sql) {
    auto db = connect(file);
    auto stmt = db.prepare(sql);
    if (!stmt) throw std::runtime_error(stmt.error());
    auto row = stmt->step();
    if (!row || !*row) throw std::runtime_error("no row for: " + sql);
    return stmt->column_is_null(0) ? "NULL" : stmt->column_text(0);
}

inline std::string sql_text(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        out += c;
        if (c == '\'') out += '\'';
    }
    return out + "'";
}

}  // namespace ledger_test
