#include "e2e/fixture.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace e2e {

namespace {

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

int connect_to(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    timeval limit{120, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    return fd;
}

HttpReply parse_reply(const std::string& raw) {
    HttpReply reply;
    const auto head_end = raw.find("\r\n\r\n");
    if (head_end == std::string::npos) return reply;
    std::istringstream head(raw.substr(0, head_end));
    std::string line;
    std::getline(head, line);
    reply.status = std::stoi(line.substr(line.find(' ') + 1, 3));
    while (std::getline(head, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string name = line.substr(0, colon);
        for (auto& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        std::string value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(' '));
        reply.headers[name] = value;
    }
    reply.body = raw.substr(head_end + 4);
    return reply;
}

std::vector<char*> c_strings(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (auto& text : texts) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

// Starts the binary with exactly `env`, stderr to `err_file`.
pid_t spawn_server(const std::map<std::string, std::string>& env, const fs::path& err_file) {
    std::vector<std::string> argv_text{VELMORA_BIN};
    std::vector<std::string> env_text;
    for (const auto& [name, value] : env) env_text.push_back(name + "=" + value);
    auto argv = c_strings(argv_text);
    auto envp = c_strings(env_text);
    pid_t pid = ::fork();
    if (pid == 0) {
        int err = ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(err, 2);
        ::execve(VELMORA_BIN, argv.data(), envp.data());
        ::_exit(127);
    }
    return pid;
}

std::map<std::string, std::string> merged_env(const fs::path& root, int port,
                                              const std::map<std::string, std::optional<std::string>>& changes) {
    auto env = server_env(root, port);
    for (const auto& [name, value] : changes) {
        if (value) env[name] = *value;
        else env.erase(name);
    }
    return env;
}

}  // namespace

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "velmora-e2e-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = fs::canonical(pattern);
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

int free_port() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

std::map<std::string, std::string> server_env(const fs::path& root, int port) {
    const char* path = std::getenv("PATH");
    return {
        {"HOME", (root / "home").string()},
        {"WENDLE_HOME", (root / "home" / ".wendle").string()},
        {"PATH", (root / "stubs").string() + ":" + (path ? path : "/usr/bin:/bin")},
        {"VELMORA_STUB_DIR", (root / "stubs").string()},
        {"VELMORA_MCP_BEARER", token},
        {"VELMORA_MCP_ADDR", "127.0.0.1:" + std::to_string(port)},
        {"LANG", "C.UTF-8"},
    };
}

HttpReply http_request(int port, const std::string& method, const std::string& target, const std::string& body,
                       const std::map<std::string, std::string>& headers) {
    int fd = connect_to(port);
    if (fd < 0) throw std::runtime_error("cannot connect to the server");
    std::string request = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
    for (const auto& [name, value] : headers) request += name + ": " + value + "\r\n";
    if (!body.empty() || method == "POST") request += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    request += "\r\n" + body;
    for (std::size_t sent = 0; sent < request.size();) {
        ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
    }
    std::string raw;
    char chunk[65536];
    for (ssize_t n; (n = ::recv(fd, chunk, sizeof chunk, 0)) > 0;) raw.append(chunk, static_cast<std::size_t>(n));
    ::close(fd);
    return parse_reply(raw);
}

Server::Server(Options options) : port_(free_port()) {
    fs::create_directories(fleet_home());
    fs::create_directories(stub_dir());
    pid_ = spawn_server(merged_env(root(), port_, options.env), root() / "server.stderr");
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < give_up) {
        if (int fd = connect_to(port_); fd >= 0) {
            ::close(fd);
            return;
        }
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    throw std::runtime_error("server did not start: " + stderr_text());
}

Server::~Server() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

std::string Server::stderr_text() const { return read_file(root() / "server.stderr"); }

void Server::stub(const std::string& program, StubReply reply) {
    const fs::path link = stub_dir() / program;
    if (!fs::exists(fs::symlink_status(link))) fs::create_symlink(STUB_BIN, link);
    json answer = {{"out", reply.out}, {"err", reply.err}, {"exit_code", reply.exit_code},
                 {"delay_seconds", reply.delay_seconds}};
    const fs::path file = stub_dir() / (program + ".reply");
    std::ofstream(file.string() + ".new") << answer.dump();
    fs::rename(file.string() + ".new", file);
}

std::vector<StubCall> Server::calls(const std::string& program) const {
    std::vector<StubCall> calls;
    std::istringstream lines(read_file(stub_dir() / (program + ".log")));
    for (std::string line; std::getline(lines, line);) {
        json call = json::parse(line);
        calls.push_back({call["args"].get<std::vector<std::string>>(), call["input"].get<std::string>()});
    }
    return calls;
}

HttpReply Server::request(const std::string& method, const std::string& target, const std::string& body,
                          std::map<std::string, std::string> headers, bool with_token) const {
    if (with_token) headers.emplace("Authorization", std::string("Bearer ") + token);
    if (!body.empty()) headers.emplace("Content-Type", "application/json");
    return http_request(port_, method, target, body, headers);
}

HttpReply Server::post(const std::string& body, std::map<std::string, std::string> headers) const {
    return request("POST", "/mcp", body, std::move(headers));
}

json Server::rpc(const std::string& method, json params) const {
    json message = {{"jsonrpc", "2.0"}, {"id", 1}, {"method", method}};
    if (!params.is_null()) message["params"] = std::move(params);
    HttpReply reply = post(message.dump());
    if (reply.status != 200) throw std::runtime_error("HTTP " + std::to_string(reply.status) + ": " + reply.body);
    return reply.json_body();
}

CallResult Server::call(const std::string& tool, json arguments) const {
    json reply = rpc("tools/call", {{"name", tool}, {"arguments", std::move(arguments)}});
    if (!reply.contains("result")) throw std::runtime_error("tools/call failed: " + reply.dump());
    const json& result = reply["result"];
    return {result["content"][0]["text"].get<std::string>(), result["isError"].get<bool>(), result};
}

Exit run_to_exit(const std::map<std::string, std::optional<std::string>>& env, int limit_seconds) {
    TempDir dir;
    fs::create_directories(dir.path() / "home" / ".wendle");
    fs::create_directories(dir.path() / "stubs");
    const fs::path err_file = dir.path() / "stderr";
    pid_t pid = spawn_server(merged_env(dir.path(), free_port(), env), err_file);
    int status = 0;
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(limit_seconds);
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > give_up) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return {-1, read_file(err_file)};
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_file(err_file)};
}

}  // namespace e2e
