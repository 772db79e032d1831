#include <toolport/toolport.hpp>

#include <array>

namespace toolport {

namespace {

constexpr std::array supported_versions{"2025-06-18", "2025-03-26", "2024-11-05"};

json tool_result(const ToolOutput& output) {
    json content = json::array({{{"text", output.text}, {"type", "text"}}});
    if (output.image) {
        content.push_back({{"data", output.image->data}, {"mimeType", output.image->mime_type}, {"type", "image"}});
    }
    return {{"content", std::move(content)}, {"isError", output.is_error}};
}

}  // namespace

Toolport::Toolport(std::string name, std::string version, std::string instructions, std::vector<Tool> tools,
                   Clock clock)
    : name_(std::move(name)),
      version_(std::move(version)),
      instructions_(std::move(instructions)),
      tools_(std::move(tools)),
      clock_(std::move(clock)) {
    tools_list_ = {{"tools", json::array()}};
    for (const auto& tool : tools_) {
        tools_list_["tools"].push_back(
            {{"description", tool.description}, {"inputSchema", tool.input_schema}, {"name", tool.name}});
    }
}

json rpc_result(const json& id, json result) {
    return {{"id", id}, {"jsonrpc", "2.0"}, {"result", std::move(result)}};
}

json rpc_error(const json& id, int code, std::string_view message) {
    return {{"error", {{"code", code}, {"message", message}}}, {"id", id}, {"jsonrpc", "2.0"}};
}

RequestFields request_fields(const json& message) {
    RequestFields fields{"", std::nullopt, nullptr};
    if (!message.is_object()) return fields;
    if (auto method = str(message, "method")) fields.method = *method;
    if (auto it = message.find("id"); it != message.end()) fields.id = *it;
    if (auto it = message.find("params"); it != message.end()) fields.params = *it;
    return fields;
}

std::string protocol_version(const json& params) {
    if (auto asked = str(params, "protocolVersion")) {
        for (const char* version : supported_versions) {
            if (*asked == version) return *asked;
        }
    }
    return supported_versions.front();
}

json Toolport::initialize(const json& params) {
    return {{"capabilities", {{"tools", json::object()}}},
            {"instructions", instructions_},
            {"protocolVersion", protocol_version(params)},
            {"serverInfo", {{"name", name_}, {"version", version_}}}};
}

const Tool* Toolport::find(std::string_view name) const {
    for (const auto& tool : tools_) {
        if (tool.name == name) return &tool;
    }
    return nullptr;
}

json Toolport::tools_list() const { return tools_list_; }

namespace {

json call_arguments(const json& params) {
    if (params.is_object()) {
        if (auto it = params.find("arguments"); it != params.end()) return *it;
    }
    return json::object();
}

// Awaits a handler; an exception that escapes it becomes a failure output.
asio::awaitable<ToolOutput> guarded_call(const Tool& tool, json arguments) {
    ToolOutput output;
    try {
        output = co_await (*tool.handler)(std::move(arguments));
    } catch (const std::exception& e) {
        output = ToolOutput::failure("tool '" + tool.name + "' failed: " + e.what());
    } catch (...) {
        output = ToolOutput::failure("tool '" + tool.name + "' failed");
    }
    co_return output;
}

}  // namespace

// Coroutine bodies below build their values in named locals before co_return:
// GCC 12 mishandles temporaries of aggregate initialisation in co_return.
asio::awaitable<json> Toolport::tools_call(const json& params, const json& id) {
    const std::string name = str(params, "name").value_or("");
    const Tool* tool = find(name);
    if (!tool) {
        json error = rpc_error(id, -32602, "unknown tool '" + name + "'");
        co_return error;
    }
    ToolOutput output = co_await guarded_call(*tool, call_arguments(params));
    json reply = rpc_result(id, tool_result(output));
    co_return reply;
}

std::optional<Outcome> Toolport::settle(const RequestFields& fields, const std::optional<std::string>& session) {
    if (fields.method == "initialize") {
        json result = initialize(fields.params);
        std::string client = "unknown";
        const auto pointer = json::json_pointer("/clientInfo/name");
        if (fields.params.is_object() && fields.params.contains(pointer) && fields.params.at(pointer).is_string()) {
            client = fields.params.at(pointer).get<std::string>();
        }
        return Reply{rpc_result(fields.id.value_or(nullptr), std::move(result)), open_session(std::move(client))};
    }
    if (!sweep_and_touch(session)) return UnknownSession{};
    if (!fields.id) return Accepted{};
    const json& id = *fields.id;
    const std::string& method = fields.method;
    if (method == "ping") return Reply{rpc_result(id, json::object()), std::nullopt};
    if (method == "tools/list") return Reply{rpc_result(id, tools_list()), std::nullopt};
    if (method == "tools/call") return std::nullopt;
    if (method == "prompts/list") return Reply{rpc_result(id, {{"prompts", json::array()}}), std::nullopt};
    if (method == "resources/list") return Reply{rpc_result(id, {{"resources", json::array()}}), std::nullopt};
    return Reply{rpc_error(id, -32601, "method '" + method + "' not found"), std::nullopt};
}

asio::awaitable<Outcome> Toolport::handle(json message, std::optional<std::string> session) {
    if (message.is_array()) {
        Outcome refused = BatchRefused{};
        co_return refused;
    }
    // The fields are read once: a call's arguments may run to megabytes.
    const RequestFields fields = request_fields(message);
    if (std::optional<Outcome> settled = settle(fields, session)) co_return std::move(*settled);
    json body = co_await tools_call(fields.params, *fields.id);
    Outcome outcome = Reply{std::move(body), std::nullopt};
    co_return outcome;
}

}  // namespace toolport
