#include "config.hpp"

#include <cstdlib>
#include <charconv>

#include <toolport/toolport.hpp>

std::optional<std::string> bearer_refusal(const char* value) {
    if (!value || !toolport::valid_utf8(value)) return "is not set";
    if (toolport::trim(value).empty()) return "is set but empty";
    if (value == former_default_token) return "is set to the old built-in default, which is public knowledge";
    return std::nullopt;
}

std::string refusal_text(std::string_view reason) {
    return "velmora-mcp: refusing to start — VELMORA_MCP_BEARER " + std::string(reason) +
           ".\nThis hub is reachable from outside this machine, so it will not serve with a guessable token.\n"
           "The token lives in ~/.wendle/config/toolport.env; if that file is missing or unreadable the launchd "
           "job sources nothing and lands here.\nGenerate one with:  openssl rand -hex 32\n";
}

std::optional<boost::asio::ip::tcp::endpoint> parse_addr(std::string_view text, std::string& error) {
    error = "invalid socket address syntax";
    const auto colon = text.rfind(':');
    if (colon == std::string_view::npos) return std::nullopt;
    std::string_view host = text.substr(0, colon);
    const std::string_view port_text = text.substr(colon + 1);
    const bool bracketed = host.starts_with('[') && host.ends_with(']');
    if (bracketed) host = host.substr(1, host.size() - 2);
    unsigned port = 0;
    auto [end, ec] = std::from_chars(port_text.data(), port_text.data() + port_text.size(), port);
    if (port_text.empty() || ec != std::errc() || end != port_text.data() + port_text.size() || port > 65535) {
        return std::nullopt;
    }
    boost::system::error_code bad;
    auto address = boost::asio::ip::make_address(std::string(host), bad);
    if (bad || address.is_v6() != bracketed) return std::nullopt;
    return boost::asio::ip::tcp::endpoint(address, static_cast<unsigned short>(port));
}

CatalogueSwitches switches_from_env() {
    const auto is = [](const char* name, std::string_view wanted) {
        const char* value = std::getenv(name);
        return value && value == wanted;
    };
    return {is("WENDLE_TRADE_MCP_ROLE", "trader"), is("WENDLE_MCP_AGENT_SEND", "on")};
}

const char* const instructions =
    "velmora's shared fleet surface (mirrors fernpost's hub per DATA-SHAPE.md): project_list, work_list, work_file, "
    "work_claim — same tool shapes so a client works against either machine. work_report closes the loop work_list "
    "can't: it fetches a launched goal's OUTCOME by ref — the closing agent's assessment note and evidence once met, "
    "status + who holds it while still open. vault_search + vault_read expose the shared Second Brain "
    "(~/.wendle/vault); paths are vault-relative and resolve on either hub. Claims/files sync over the federation "
    "wire. Mac-local extras: project_note/project_brief write and read a project's maintained brief; project_tree + "
    "project_files read the REAL repo (list files, then batch-fetch — current truth beats stale memory); "
    "fs_read/fs_list read files OUTSIDE the repo and research trees (scratchpads, var dirs, ad-hoc drops) and serve "
    "ONLY folders the operator pre-approved in ~/.wendle/config/fs-allow.json — nothing is declared by default, so an "
    "undeclared path is refused, read-only, every call audit-logged; research_read/research_save open the shared "
    "research area (daily digests, reconciled findings), and knowledge_search is how you FIND any of that knowledge "
    "when you cannot name it — ranked fuzzy text search over every project brief, progress log, plan and research "
    "topic, where project_brief/research_read need a slug you already know; vexa_generate makes media on this "
    "machine (prompt in → saved gallery path out); whatsapp_send/whatsapp_recent are the operator's PERSONAL "
    "WhatsApp number (paired Web session) — recipients see an ordinary message from the operator, so send only what "
    "they asked for; kinemat_* is GUI perceive+act via kinemat — perceive "
    "(check/apps/read/snapshot/screenshot/wait), act (click/type/key/press/scroll/drag/hover), one-shot chains (run), "
    "and kinemat_dom to drive+debug a REAL browser by live DOM (list/map/find/click over CDP — what a headless fetch "
    "misses); every act is gated by the operator's Secure-Enclave arm grant (first act fires Touch ID on their "
    "screen; a gate timeout means nobody approved).";
