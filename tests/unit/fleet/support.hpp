// Test helpers for code that runs on an io_context or reads the environment.
#pragma once

#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>

namespace testing_support {

namespace fs = std::filesystem;

// Runs one awaitable to completion on a fresh io_context with `threads`
// workers, and returns its value. The context runs until all its work is
// done, background reaping included.
template <class T>
T run_sync(boost::asio::awaitable<T> task, int threads = 1) {
    boost::asio::io_context ctx;
    std::optional<T> result;
    std::exception_ptr error;
    boost::asio::co_spawn(ctx, std::move(task), [&](std::exception_ptr e, T value) {
        if (e)
            error = e;
        else
            result = std::move(value);
    });
    std::vector<std::thread> extra;
    for (int i = 1; i < threads; ++i) extra.emplace_back([&] { ctx.run(); });
    ctx.run();
    for (auto& t : extra) t.join();
    if (error) std::rethrow_exception(error);
    return std::move(*result);
}

// Sets (or unsets, with nullopt) one environment variable for a scope.
class EnvVar {
public:
    EnvVar(std::string name, std::optional<std::string> value) : name_(std::move(name)) {
        if (const char* old = std::getenv(name_.c_str())) old_ = old;
        if (value)
            ::setenv(name_.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name_.c_str());
    }
    ~EnvVar() {
        if (old_)
            ::setenv(name_.c_str(), old_->c_str(), 1);
        else
            ::unsetenv(name_.c_str());
    }
    EnvVar(const EnvVar&) = delete;
    EnvVar& operator=(const EnvVar&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

// A fresh folder under the system's temporary directory, removed afterwards.
class ScratchDir {
public:
    ScratchDir() {
        std::string pattern = (fs::temp_directory_path() / "fleet-test-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~ScratchDir() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

inline void write_file(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

inline std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Writes an executable shell script.
inline fs::path write_script(const fs::path& path, const std::string& body) {
    write_file(path, "#!/bin/sh\n" + body + "\n");
    fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
    return path;
}

}  // namespace testing_support
