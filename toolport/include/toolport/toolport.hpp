// toolport: the MCP hub library. It knows tools only through the Tool record
// and the ToolOutput they produce; nothing here knows any particular tool.
#pragma once

#include <chrono>
#include <cstdint>
#include <expected>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <boost/asio/awaitable.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <nlohmann/json.hpp>

namespace toolport {

namespace asio = boost::asio;
using json = nlohmann::json;

// ---------------------------------------------------------------- tool record

struct Image {
    std::string data;       // base64 text of the image bytes
    std::string mime_type;  // e.g. "image/png"
};

struct ToolOutput {
    std::string text;
    std::optional<Image> image;
    bool is_error = false;

    static ToolOutput success(std::string text);
    static ToolOutput failure(std::string text);
    static ToolOutput image_success(std::string text, Image image);

    bool operator==(const ToolOutput&) const = default;
};

bool operator==(const Image&, const Image&);

// A handler receives the call's "arguments" exactly as sent (any JSON value)
// and never throws on purpose; the hub turns an escaped exception into a
// failure output all the same.
using Handler = std::function<asio::awaitable<ToolOutput>(json)>;

struct Tool {
    std::string name;
    std::string description;
    json input_schema;
    std::shared_ptr<const Handler> handler;

    Tool(std::string name, std::string description, json input_schema, Handler handler);
};

// A handler for a tool whose work runs inline (SQLite statements, small file
// reads): the synchronous call's output, awaited like any other.
using InlineCall = ToolOutput (*)(const json& args);
Handler inline_handler(InlineCall call);

// A value or the failure text: the shape of every fallible helper.
template <class T>
using Result = std::expected<T, std::string>;

// ------------------------------------------------------- lenient arg readers
//
// Every reader copes with any JSON value: a non-object, a missing member or a
// member of another type all read as absent.

// Trims Unicode white space at both ends.
std::string trim(std::string_view text);

std::optional<std::string> str(const json& args, std::string_view key);
// A JSON integer that fits in int64 (floats and larger integers read as absent).
std::optional<std::int64_t> int64(const json& args, std::string_view key);
// A non-negative JSON integer (up to UINT64_MAX); anything else reads as absent.
std::optional<std::uint64_t> uint64(const json& args, std::string_view key);
// Any JSON number.
std::optional<double> number(const json& args, std::string_view key);
// True only for the JSON value true.
bool flag(const json& args, std::string_view key);
// The trimmed, non-blank string, or the failure output "{key} is required".
std::expected<std::string, ToolOutput> required_str(const json& args, std::string_view key);
// Sets object[key] = text only when text is non-empty.
void put_if_set(json& object, std::string_view key, const std::string& text);

// Compact JSON with sorted keys; invalid UTF-8 is replaced, never thrown on.
std::string dump(const json& value);

// ------------------------------------------------------------------ the hub

struct Session {
    std::string client;
    std::chrono::steady_clock::time_point last_seen;
};

inline constexpr std::chrono::seconds idle_limit{1800};

// What Toolport::handle makes of one parsed message.
struct Reply {
    json body;
    std::optional<std::string> new_session;
};
struct BatchRefused {};
struct Accepted {};
struct UnknownSession {};
using Outcome = std::variant<Reply, BatchRefused, Accepted, UnknownSession>;

// The JSON-RPC fields the endpoint reads from a message.
struct RequestFields {
    std::string method;
    std::optional<json> id;  // absent: a notification
    json params;             // null when absent
};
RequestFields request_fields(const json& message);

class Toolport {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    Toolport(std::string name, std::string version, std::string instructions, std::vector<Tool> tools,
             Clock clock = &std::chrono::steady_clock::now);

    const std::string& name() const { return name_; }
    const std::string& version() const { return version_; }
    const std::string& instructions() const { return instructions_; }
    const std::vector<Tool>& tools() const { return tools_; }

    std::string open_session(std::string client);
    bool close_session(const std::string& id);
    bool sweep_and_touch(const std::optional<std::string>& id);
    std::size_t session_count() const;

    // JSON-RPC dispatch of one parsed message.
    asio::awaitable<Outcome> handle(json message, std::optional<std::string> session);

private:
    // Everything but a tool call is answered without waiting; none: call the tool.
    std::optional<Outcome> settle(const RequestFields& fields, const std::optional<std::string>& session);
    json initialize(const json& params);
    json tools_list() const;
    asio::awaitable<json> tools_call(const json& params, const json& id);
    const Tool* find(std::string_view name) const;

    std::string name_;
    std::string version_;
    std::string instructions_;
    std::vector<Tool> tools_;
    json tools_list_;  // serialised once: the catalogue never changes
    Clock clock_;
    mutable std::mutex mutex_;
    std::map<std::string, Session> sessions_;
};

json rpc_result(const json& id, json result);
json rpc_error(const json& id, int code, std::string_view message);

// Picks the protocol version "initialize" answers with.
std::string protocol_version(const json& params);

// ------------------------------------------------------------------- HTTP

struct HttpResponse {
    unsigned status = 200;
    std::string body;                  // empty for the bare replies
    bool json_body = false;            // sets content-type application/json
    std::optional<std::string> session;  // mcp-session-id header
};

// json_response: status, optional session header, body serialised compactly.
HttpResponse json_response(unsigned status, std::optional<std::string> session, const json& body);

// The "/mcp" handler: method, the raw mcp-session-id header (if any) and the body.
asio::awaitable<HttpResponse> endpoint(Toolport& hub, std::string_view method,
                                       std::optional<std::string_view> session_header, std::string body);

// True when the request target names the endpoint ("/mcp", query ignored).
bool router(std::string_view target);

// Bearer check on the raw Authorization header value (absent: nullopt).
bool check(std::optional<std::string_view> authorization, std::string_view token);
bool constant_time_eq(std::string_view a, std::string_view b);

// True when every byte is a tab or printable ASCII.
bool header_safe(std::string_view value);
bool valid_utf8(std::string_view text);

// Limits of the HTTP server.
inline constexpr std::size_t body_limit = 2 * 1024 * 1024;
inline constexpr std::chrono::seconds request_read_timeout{30};

// Serves the hub on the address with one worker thread per core until the
// listener fails; returns the error text.
std::string serve_standalone(std::shared_ptr<Toolport> hub, asio::ip::tcp::endpoint address, std::string token);

}  // namespace toolport
