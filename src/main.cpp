// velmora-mcp: reads its configuration from the environment and serves the
// tool catalogue over HTTP until the listener fails.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "catalogue.hpp"
#include "config.hpp"

int main() {
    // A client hanging up or a child closing its stdin must not end the server.
    std::signal(SIGPIPE, SIG_IGN);

    const char* addr_env = std::getenv("VELMORA_MCP_ADDR");
    const std::string addr = addr_env && toolport::valid_utf8(addr_env) ? addr_env : std::string(default_addr);

    const char* token = std::getenv("VELMORA_MCP_BEARER");
    if (auto reason = bearer_refusal(token)) {
        std::cerr << refusal_text(*reason) << std::flush;
        return 78;
    }

    auto hub = std::make_shared<toolport::Toolport>("velmora", "0.1.0", instructions,
                                                     build_catalogue(switches_from_env()));

    std::string error;
    auto address = parse_addr(addr, error);
    if (!address) {
        std::cerr << "velmora-mcp: bad addr " << addr << ": " << error << "\n" << std::flush;
        return 1;
    }
    std::cerr << "velmora-mcp serving on http://" << addr << "/mcp\n" << std::flush;
    std::string failure = toolport::serve_standalone(std::move(hub), *address, token);
    std::cerr << "velmora-mcp: " << failure << "\n" << std::flush;
    return 1;
}
