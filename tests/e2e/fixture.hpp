// End-to-end fixture: the real server binary on a free loopback port, with a
// temporary HOME and fleet home and recording stub programs first on PATH.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace e2e {

using nlohmann::json;
namespace fs = std::filesystem;

inline constexpr const char* token = "e2e-test-token-0123456789abcdef";

struct StubReply {
    std::string out{}, err{};
    int exit_code = 0;
    double delay_seconds = 0;
};

struct StubCall {
    std::vector<std::string> args;  // without argv[0]
    std::string input;
};

struct HttpReply {
    int status = 0;
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
    json json_body() const { return json::parse(body); }
};

struct CallResult {
    std::string text;
    bool is_error = false;
    json result;
};

// A finished run of the binary (for start-up cases that end by themselves).
struct Exit {
    int status = -1;
    std::string err;
};

// Sends one raw HTTP/1.1 request and reads the whole reply.
HttpReply http_request(int port, const std::string& method, const std::string& target, const std::string& body,
                       const std::map<std::string, std::string>& headers);

// A fresh temporary folder, removed with its owner.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

class Server {
public:
    struct Options {
        std::map<std::string, std::optional<std::string>> env;  // nullopt unsets
    };

    explicit Server(Options options = {});
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    fs::path root() const { return dir_.path(); }
    fs::path home() const { return root() / "home"; }
    fs::path fleet_home() const { return home() / ".wendle"; }
    fs::path stub_dir() const { return root() / "stubs"; }
    int port() const { return port_; }
    std::string stderr_text() const;

    void stub(const std::string& program, StubReply reply);
    std::vector<StubCall> calls(const std::string& program) const;

    HttpReply request(const std::string& method, const std::string& target, const std::string& body,
                      std::map<std::string, std::string> headers = {}, bool with_token = true) const;
    HttpReply post(const std::string& body, std::map<std::string, std::string> headers = {}) const;
    json rpc(const std::string& method, json params = nullptr) const;
    CallResult call(const std::string& tool, json arguments) const;

private:
    TempDir dir_;
    int port_ = 0;
    pid_t pid_ = -1;
};

// The environment a test server gets, for the given root and port.
std::map<std::string, std::string> server_env(const fs::path& root, int port);
// Runs the binary with the environment to its end (or kills it after the limit).
Exit run_to_exit(const std::map<std::string, std::optional<std::string>>& env, int limit_seconds = 10);
int free_port();

}  // namespace e2e
