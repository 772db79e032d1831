#include "fleet/node.hpp"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <variant>

#include "fleet/paths.hpp"
#include "fleet/process.hpp"

namespace fleet {

namespace {

std::optional<fs::path> config_root() {
    if (const char* home = std::getenv("WENDLE_HOME"); home && *home) return fs::path(home);
    auto home = home_dir();
    if (!home) return std::nullopt;
    for (const char* name : {".wendle", ".claude"}) {
        std::error_code ec;
        if (fs::is_directory(*home / name, ec)) return *home / name;
    }
    return std::nullopt;
}

// The file's trimmed text; empty when it cannot be read as UTF-8 text.
std::string read_trimmed(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::string content(std::istreambuf_iterator<char>(in), {});
    if (!toolport::valid_utf8(content)) return {};
    return toolport::trim(content);
}

}  // namespace

boost::asio::awaitable<std::string> fleet_node_id() {
    if (const char* node = std::getenv("WENDLE_NODE")) {
        if (auto name = toolport::trim(node); !name.empty()) co_return name;
    }
    if (auto root = config_root()) {
        if (auto name = read_trimmed(*root / "config" / "node"); !name.empty()) co_return name;
    }
    // A hung `hostname` must not hang the call that asked for the node name.
    Command hostname{.program = "hostname", .limit = std::chrono::seconds(10)};
    auto outcome = co_await run_process(std::move(hostname));
    if (auto* exited = std::get_if<Exited>(&outcome); exited && toolport::valid_utf8(exited->out)) {
        if (auto name = toolport::trim(exited->out); !name.empty()) co_return name;
    }
    std::string fallback = "localhost";
    co_return fallback;
}

}  // namespace fleet
