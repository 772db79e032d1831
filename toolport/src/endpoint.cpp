#include <toolport/toolport.hpp>

namespace toolport {

namespace {

// Deeper documents are refused before parsing: copying and writing JSON
// recurse, and an echoed id must not be able to exhaust a worker's stack.
constexpr std::size_t max_nesting = 512;

std::size_t nesting_depth(std::string_view body) {
    std::size_t depth = 0, deepest = 0;
    bool in_string = false;
    for (std::size_t i = 0; i < body.size(); ++i) {
        const char c = body[i];
        if (in_string) {
            if (c == '\\') ++i;
            else if (c == '"') in_string = false;
        } else if (c == '"') {
            in_string = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return deepest;
}

// The reader's description without its "[json.exception.x.y] " tag.
std::string parse_fault(const json::exception& e) {
    std::string_view what = e.what();
    if (auto end = what.find("] "); what.starts_with("[") && end != std::string_view::npos) {
        what.remove_prefix(end + 2);
    }
    return std::string(what);
}

HttpResponse bare(unsigned status) { return {status, "", false, std::nullopt}; }

// The parsed message, or the 400 reply for a body that is not one.
std::variant<json, HttpResponse> parse_message(const std::string& body) {
    if (nesting_depth(body) > max_nesting) {
        return json_response(400, std::nullopt,
                             rpc_error(nullptr, -32700,
                                       "parse error: nesting deeper than " + std::to_string(max_nesting) + " levels"));
    }
    try {
        return json::parse(body);
    } catch (const json::exception& e) {
        return json_response(400, std::nullopt, rpc_error(nullptr, -32700, "parse error: " + parse_fault(e)));
    }
}

HttpResponse respond(Outcome outcome) {
    if (auto* reply = std::get_if<Reply>(&outcome)) return json_response(200, std::move(reply->new_session), reply->body);
    if (std::holds_alternative<BatchRefused>(outcome)) {
        return json_response(400, std::nullopt, rpc_error(nullptr, -32600, "batch requests are not supported"));
    }
    return bare(std::holds_alternative<Accepted>(outcome) ? 202 : 404);
}

asio::awaitable<HttpResponse> post(Toolport& hub, std::optional<std::string> session, std::string body) {
    auto parsed = parse_message(body);
    if (auto* refusal = std::get_if<HttpResponse>(&parsed)) co_return std::move(*refusal);
    Outcome outcome = co_await hub.handle(std::move(std::get<json>(parsed)), std::move(session));
    HttpResponse response = respond(std::move(outcome));
    co_return response;
}

}  // namespace

HttpResponse json_response(unsigned status, std::optional<std::string> session, const json& body) {
    if (session && !header_safe(*session)) session.reset();
    return {status, dump(body), true, std::move(session)};
}

bool router(std::string_view target) {
    return target.substr(0, target.find('?')) == "/mcp";
}

asio::awaitable<HttpResponse> endpoint(Toolport& hub, std::string_view method,
                                       std::optional<std::string_view> session_header, std::string body) {
    std::optional<std::string> session;
    if (session_header && header_safe(*session_header)) session = std::string(*session_header);
    HttpResponse response = bare(405);
    if (method == "POST") response = co_await post(hub, std::move(session), std::move(body));
    if (method == "DELETE") response = bare(session && hub.close_session(*session) ? 204 : 404);
    co_return response;
}

}  // namespace toolport
