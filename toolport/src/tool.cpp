#include <toolport/toolport.hpp>

#include <limits>

namespace toolport {

ToolOutput ToolOutput::success(std::string text) { return {std::move(text), std::nullopt, false}; }

ToolOutput ToolOutput::failure(std::string text) { return {std::move(text), std::nullopt, true}; }

ToolOutput ToolOutput::image_success(std::string text, Image image) {
    return {std::move(text), std::move(image), false};
}

bool operator==(const Image& a, const Image& b) { return a.data == b.data && a.mime_type == b.mime_type; }

Tool::Tool(std::string name, std::string description, json input_schema, Handler handler)
    : name(std::move(name)),
      description(std::move(description)),
      input_schema(std::move(input_schema)),
      handler(std::make_shared<const Handler>(std::move(handler))) {}

namespace {

// The output is kept in a named local: GCC 12 mishandles temporaries in a
// co_return expression.
asio::awaitable<ToolOutput> run_inline(InlineCall call, json args) {
    ToolOutput output = call(args);
    co_return output;
}

}  // namespace

Handler inline_handler(InlineCall call) {
    return [call](json args) { return run_inline(call, std::move(args)); };
}

namespace {

// Decodes one UTF-8 sequence at text[i]; returns its code point and length,
// or length 0 when the bytes there are not a whole valid sequence.
std::pair<char32_t, std::size_t> decode_at(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) return {lead, 1};
    std::size_t len = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (len == 0 || lead > 0xF4 || i + len > text.size()) return {0, 0};
    char32_t cp = lead & (0x7F >> len);
    for (std::size_t k = 1; k < len; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return {0, 0};
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    static constexpr char32_t min_for_len[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < min_for_len[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return {0, 0};
    return {cp, len};
}

bool is_unicode_space(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

// The byte length of the code point that ends at text[end-1], or 0.
std::size_t last_len(std::string_view text, std::size_t end) {
    for (std::size_t len = 1; len <= 4 && len <= end; ++len) {
        auto [cp, got] = decode_at(text, end - len);
        if (got == len) return len;
    }
    return 0;
}

const json* member(const json& args, std::string_view key) {
    if (!args.is_object()) return nullptr;
    auto it = args.find(key);
    return it == args.end() ? nullptr : &*it;
}

}  // namespace

bool valid_utf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        auto [cp, len] = decode_at(text, i);
        if (len == 0) return false;
        i += len;
    }
    return true;
}

std::string trim(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        auto [cp, len] = decode_at(text, begin);
        if (len == 0 || !is_unicode_space(cp)) break;
        begin += len;
    }
    std::size_t end = text.size();
    while (end > begin) {
        std::size_t len = last_len(text, end);
        if (len == 0 || !is_unicode_space(decode_at(text, end - len).first)) break;
        end -= len;
    }
    return std::string(text.substr(begin, end - begin));
}

std::optional<std::string> str(const json& args, std::string_view key) {
    const json* value = member(args, key);
    if (!value || !value->is_string()) return std::nullopt;
    return value->get<std::string>();
}

std::optional<std::int64_t> int64(const json& args, std::string_view key) {
    const json* value = member(args, key);
    if (!value) return std::nullopt;
    if (value->is_number_unsigned()) {
        auto u = value->get<std::uint64_t>();
        if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
        return static_cast<std::int64_t>(u);
    }
    if (value->is_number_integer()) return value->get<std::int64_t>();
    return std::nullopt;
}

std::optional<std::uint64_t> uint64(const json& args, std::string_view key) {
    const json* value = member(args, key);
    if (!value || !value->is_number_integer()) return std::nullopt;
    if (value->is_number_unsigned()) return value->get<std::uint64_t>();
    const auto signed_value = value->get<std::int64_t>();
    if (signed_value < 0) return std::nullopt;
    return static_cast<std::uint64_t>(signed_value);
}

std::optional<double> number(const json& args, std::string_view key) {
    const json* value = member(args, key);
    if (!value || !value->is_number()) return std::nullopt;
    return value->get<double>();
}

bool flag(const json& args, std::string_view key) {
    const json* value = member(args, key);
    return value && value->is_boolean() && value->get<bool>();
}

std::expected<std::string, ToolOutput> required_str(const json& args, std::string_view key) {
    if (auto value = str(args, key)) {
        if (auto trimmed = trim(*value); !trimmed.empty()) return trimmed;
    }
    return std::unexpected(ToolOutput::failure(std::string(key) + " is required"));
}

void put_if_set(json& object, std::string_view key, const std::string& text) {
    if (!text.empty()) object[std::string(key)] = text;
}

std::string dump(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

}  // namespace toolport
