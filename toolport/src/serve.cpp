// The HTTP/1.1 server: Beast over Asio coroutines, one worker per core.
#include <toolport/toolport.hpp>

#include <thread>

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

namespace toolport {

namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

constexpr auto use_tuple = asio::as_tuple(asio::use_awaitable);
constexpr std::chrono::seconds write_timeout{30};
constexpr std::chrono::seconds drain_timeout{2};
constexpr std::size_t drain_limit = 4 * 1024 * 1024;

using Request = http::request<http::string_body>;

std::optional<std::string_view> header(const Request& request, http::field field) {
    auto it = request.find(field);
    if (it == request.end()) return std::nullopt;
    return std::string_view(it->value().data(), it->value().size());
}

std::optional<std::string_view> header(const Request& request, std::string_view name) {
    auto it = request.find(beast::string_view(name.data(), name.size()));
    if (it == request.end()) return std::nullopt;
    return std::string_view(it->value().data(), it->value().size());
}

HttpResponse plain(unsigned status, std::string text = "") { return {status, std::move(text), false, std::nullopt}; }

asio::awaitable<bool> write(beast::tcp_stream& stream, const HttpResponse& reply, unsigned version, bool keep_alive) {
    http::response<http::string_body> response{static_cast<http::status>(reply.status), version};
    if (reply.json_body) response.set(http::field::content_type, "application/json");
    else if (!reply.body.empty()) response.set(http::field::content_type, "text/plain; charset=utf-8");
    if (reply.session) response.set("mcp-session-id", *reply.session);
    response.body() = reply.body;
    response.keep_alive(keep_alive);
    response.prepare_payload();
    stream.expires_after(write_timeout);
    auto [ec, n] = co_await http::async_write(stream, response, use_tuple);
    co_return !ec;
}

// Ends a connection whose request body may be unread: without the drain the
// client could see a reset instead of the reply.
asio::awaitable<void> close_gracefully(beast::tcp_stream& stream) {
    beast::error_code ignored;
    stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
    stream.expires_after(drain_timeout);
    std::array<char, 16384> sink;
    for (std::size_t drained = 0; drained < drain_limit;) {
        auto [ec, n] = co_await stream.async_read_some(asio::buffer(sink), use_tuple);
        if (ec) break;
        drained += n;
    }
    stream.socket().close(ignored);
}

asio::awaitable<void> refuse(beast::tcp_stream& stream, const HttpResponse& reply, unsigned version) {
    co_await write(stream, reply, version, false);
    co_await close_gracefully(stream);
}

struct Body {
    std::optional<std::string> text;  // none: refused with `refusal`
    HttpResponse refusal;
};

Body refused(unsigned status, std::string text) { return Body{std::nullopt, plain(status, std::move(text))}; }

asio::awaitable<Body> read_body(beast::tcp_stream& stream, beast::flat_buffer& buffer,
                                http::request_parser<http::string_body>& parser) {
    if (auto length = parser.content_length(); length && *length > body_limit) {
        Body too_large = refused(413, "request body exceeds 2 MiB\n");
        co_return too_large;
    }
    if (auto expect = header(parser.get(), http::field::expect); expect && beast::iequals(*expect, "100-continue")) {
        http::response<http::empty_body> go_on{http::status::continue_, parser.get().version()};
        co_await http::async_write(stream, go_on, use_tuple);
    }
    parser.body_limit(body_limit);
    auto [ec, n] = co_await http::async_read(stream, buffer, parser, use_tuple);
    Body read;
    if (ec == http::error::body_limit) read = refused(413, "request body exceeds 2 MiB\n");
    else if (ec) read = refused(400, "malformed request\n");
    else if (!valid_utf8(parser.get().body())) read = refused(400, "request body is not valid UTF-8\n");
    else read.text = std::move(parser.get().body());
    co_return read;
}

bool peer_gone(const beast::error_code& ec) {
    return ec == http::error::end_of_stream || ec == beast::error::timeout || ec == asio::error::eof ||
           ec == asio::error::connection_reset || ec == asio::error::operation_aborted;
}

// Serves one request; answers false when the connection is to be closed.
asio::awaitable<bool> serve_one(beast::tcp_stream& stream, beast::flat_buffer& buffer, Toolport& hub,
                                const std::string& token) {
    http::request_parser<http::string_body> parser;
    parser.body_limit(boost::none);  // enforced once the bearer check has passed
    stream.expires_after(request_read_timeout);
    auto [ec, n] = co_await http::async_read_header(stream, buffer, parser, use_tuple);
    if (ec) {
        const HttpResponse malformed = plain(400, "malformed request\n");
        if (!peer_gone(ec)) co_await refuse(stream, malformed, 11);
        co_return false;
    }
    const Request& request = parser.get();
    const unsigned version = request.version();
    if (!check(header(request, http::field::authorization), token)) {
        const HttpResponse unauthorized = plain(401);
        co_await refuse(stream, unauthorized, version);
        co_return false;
    }
    const std::string_view target(request.target().data(), request.target().size());
    if (!router(target)) {
        const HttpResponse not_found = plain(404);
        co_await refuse(stream, not_found, version);
        co_return false;
    }
    std::string body;
    if (request.method() == http::verb::post) {
        Body read = co_await read_body(stream, buffer, parser);
        if (!read.text) {
            co_await refuse(stream, read.refusal, version);
            co_return false;
        }
        body = std::move(*read.text);
    }
    const bool keep_alive = parser.is_done() && parser.get().keep_alive();
    const std::string_view method(request.method_string().data(), request.method_string().size());
    stream.expires_never();  // a tool call may take as long as its own limits allow
    HttpResponse reply = co_await endpoint(hub, method, header(request, "mcp-session-id"), std::move(body));
    if (!keep_alive) {
        co_await refuse(stream, reply, version);
        co_return false;
    }
    co_return co_await write(stream, reply, version, true);
}

asio::awaitable<void> connection(tcp::socket socket, std::shared_ptr<Toolport> hub,
                                 std::shared_ptr<const std::string> token) {
    beast::tcp_stream stream(std::move(socket));
    beast::flat_buffer buffer;
    try {
        while (co_await serve_one(stream, buffer, *hub, *token)) {
        }
    } catch (...) {
        // A connection never takes the server down with it.
    }
    beast::error_code ignored;
    stream.socket().close(ignored);
}

bool out_of_descriptors(const beast::error_code& ec) {
    return ec == asio::error::no_descriptors || ec == boost::system::errc::too_many_files_open_in_system ||
           ec == asio::error::no_buffer_space || ec == asio::error::no_memory;
}

asio::awaitable<std::string> accept_loop(tcp::acceptor& acceptor, std::shared_ptr<Toolport> hub,
                                         std::shared_ptr<const std::string> token) {
    auto context = acceptor.get_executor();
    for (;;) {
        auto strand = asio::make_strand(context);
        auto [ec, socket] = co_await acceptor.async_accept(strand, use_tuple);
        if (out_of_descriptors(ec)) {
            // Back off and keep serving the connections already open.
            asio::steady_timer pause(context, std::chrono::milliseconds(100));
            co_await pause.async_wait(use_tuple);
            continue;
        }
        if (ec == asio::error::connection_aborted) continue;
        if (ec) co_return ec.message();
        asio::co_spawn(strand, connection(std::move(socket), hub, token), asio::detached);
    }
}

}  // namespace

std::string serve_standalone(std::shared_ptr<Toolport> hub, tcp::endpoint address, std::string token) {
    const unsigned workers = std::max(1u, std::thread::hardware_concurrency());
    asio::io_context context(static_cast<int>(workers));
    tcp::acceptor acceptor(context);
    beast::error_code ec;
    acceptor.open(address.protocol(), ec);
    if (!ec) acceptor.set_option(asio::socket_base::reuse_address(true), ec);
    if (!ec) acceptor.bind(address, ec);
    if (!ec) acceptor.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) return ec.message();

    std::string failure = "server stopped";
    auto shared_token = std::make_shared<const std::string>(std::move(token));
    asio::co_spawn(context, accept_loop(acceptor, std::move(hub), shared_token),
                   [&](std::exception_ptr error, std::string text) {
                       failure = error ? "server failed" : std::move(text);
                       context.stop();
                   });
    std::vector<std::jthread> threads;
    for (unsigned i = 1; i < workers; ++i) threads.emplace_back([&] { context.run(); });
    context.run();
    context.stop();
    threads.clear();
    return failure;
}

}  // namespace toolport
