#include <gtest/gtest.h>

#include <toolport/toolport.hpp>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/use_future.hpp>

using toolport::json;
using namespace std::chrono_literals;

namespace {

template <class T>
T run(boost::asio::awaitable<T> work) {
    boost::asio::io_context context;
    auto future = boost::asio::co_spawn(context, std::move(work), boost::asio::use_future);
    context.run();
    return future.get();
}

struct FakeClock {
    std::chrono::steady_clock::time_point now{};
    toolport::Toolport::Clock fn() {
        return [this] { return now; };
    }
};

}  // namespace

TEST(Bearer, ConstantTimeEq) {
    struct Case {
        std::string a, b;
        bool equal;
    };
    const Case cases[] = {{"", "", true},       {"abc", "abc", true}, {"abc", "abd", false},
                          {"abc", "abcd", false}, {"", "a", false},     {std::string("a\0b", 3), std::string("a\0b", 3), true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.a + "|" + c.b);
        EXPECT_EQ(toolport::constant_time_eq(c.a, c.b), c.equal);
    }
}

TEST(Bearer, HeaderJudgement) {
    const std::string token = "s3cret";
    struct Case {
        std::optional<std::string> header;
        bool pass;
    };
    const Case cases[] = {
        {"Bearer s3cret", true},
        {std::nullopt, false},
        {"", false},
        {"Bearer", false},
        {"Bearer ", false},
        {"bearer s3cret", false},
        {"BEARER s3cret", false},
        {"Bearer  s3cret", false},
        {"Bearer s3cret ", false},
        {"Bearer s3creT", false},
        {"Bearer s3cre", false},
        {"Basic s3cret", false},
        {"Bearer s3cret\x01", false},
        {"Bearer s3cr\xc3\xa9", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.header.value_or("<absent>"));
        std::optional<std::string_view> view;
        if (c.header) view = *c.header;
        EXPECT_EQ(toolport::check(view, token), c.pass);
    }
    const std::string tabbed = "Bearer a\tb";
    EXPECT_TRUE(toolport::check(std::string_view(tabbed), "a\tb"));
}

TEST(Dispatch, RequestFields) {
    struct Case {
        json message;
        std::string method;
        std::optional<json> id;
        json params;
    };
    const Case cases[] = {
        {{{"method", "ping"}, {"id", 1}}, "ping", json(1), nullptr},
        {{{"method", 5}, {"id", "abc"}}, "", json("abc"), nullptr},
        {{{"id", nullptr}, {"params", {{"a", 1}}}}, "", json(nullptr), {{"a", 1}}},
        {{{"method", "x"}, {"params", nullptr}}, "x", std::nullopt, nullptr},
        {json(3), "", std::nullopt, nullptr},
        {json("ping"), "", std::nullopt, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message.dump());
        auto fields = toolport::request_fields(c.message);
        EXPECT_EQ(fields.method, c.method);
        EXPECT_EQ(fields.id, c.id);
        EXPECT_EQ(fields.params, c.params);
    }
}

TEST(Dispatch, ProtocolVersion) {
    struct Case {
        json params;
        std::string want;
    };
    const Case cases[] = {
        {{{"protocolVersion", "2025-03-26"}}, "2025-03-26"},
        {{{"protocolVersion", "2024-11-05"}}, "2024-11-05"},
        {{{"protocolVersion", "2025-06-18"}}, "2025-06-18"},
        {{{"protocolVersion", "2099-01-01"}}, "2025-06-18"},
        {{{"protocolVersion", 20250326}}, "2025-06-18"},
        {nullptr, "2025-06-18"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.params.dump());
        EXPECT_EQ(toolport::protocol_version(c.params), c.want);
    }
}

TEST(Sessions, SweepAtTheIdleLimit) {
    FakeClock clock;
    toolport::Toolport hub("n", "v", "i", {}, clock.fn());
    const std::string kept = hub.open_session("a");
    const std::string dropped = hub.open_session("b");
    EXPECT_NE(kept, dropped);
    EXPECT_EQ(kept.size(), 36u);

    clock.now += 1799s;
    EXPECT_TRUE(hub.sweep_and_touch(kept));  // renewed at 1799 s
    clock.now += 1s;
    EXPECT_TRUE(hub.sweep_and_touch(std::nullopt));  // no id still sweeps: `dropped` is 1800 s idle
    EXPECT_EQ(hub.session_count(), 1u);
    EXPECT_FALSE(hub.sweep_and_touch(dropped));
    clock.now += 1800s;
    EXPECT_FALSE(hub.sweep_and_touch(kept));
    EXPECT_EQ(hub.session_count(), 0u);
}

TEST(Sessions, CloseRemovesOnce) {
    toolport::Toolport hub("n", "v", "i", {});
    const std::string id = hub.open_session("c");
    EXPECT_TRUE(hub.close_session(id));
    EXPECT_FALSE(hub.close_session(id));
    EXPECT_FALSE(hub.sweep_and_touch(id));
}

TEST(Dispatch, ToolOutputsBecomeResults) {
    std::vector<toolport::Tool> tools;
    tools.emplace_back("echo", "d", json::object(), [](json args) -> boost::asio::awaitable<toolport::ToolOutput> {
        auto output = toolport::ToolOutput::success(args.dump());
        co_return output;
    });
    tools.emplace_back("fail", "d", json::object(), [](json) -> boost::asio::awaitable<toolport::ToolOutput> {
        auto output = toolport::ToolOutput::failure("");
        co_return output;
    });
    tools.emplace_back("image", "d", json::object(), [](json) -> boost::asio::awaitable<toolport::ToolOutput> {
        auto output = toolport::ToolOutput::image_success("shot", toolport::Image{"QUJD", "image/png"});
        co_return output;
    });
    tools.emplace_back("throws", "d", json::object(), [](json) -> boost::asio::awaitable<toolport::ToolOutput> {
        throw std::runtime_error("boom");
        co_return toolport::ToolOutput::success("");
    });
    tools.emplace_back("throws_other", "d", json::object(), [](json) -> boost::asio::awaitable<toolport::ToolOutput> {
        throw 1;
        co_return toolport::ToolOutput::success("");
    });
    toolport::Toolport hub("n", "v", "i", std::move(tools));
    const auto call = [&](json params) {
        auto outcome = run(hub.handle({{"id", 7}, {"method", "tools/call"}, {"params", params}}, std::nullopt));
        return std::get<toolport::Reply>(outcome).body;
    };
    struct Case {
        json params;
        json result;
    };
    const Case cases[] = {
        {{{"name", "echo"}}, {{"content", {{{"text", "{}"}, {"type", "text"}}}}, {"isError", false}}},
        {{{"name", "echo"}, {"arguments", nullptr}},
         {{"content", {{{"text", "null"}, {"type", "text"}}}}, {"isError", false}}},
        {{{"name", "fail"}}, {{"content", {{{"text", ""}, {"type", "text"}}}}, {"isError", true}}},
        {{{"name", "image"}},
         {{"content",
           {{{"text", "shot"}, {"type", "text"}}, {{"data", "QUJD"}, {"mimeType", "image/png"}, {"type", "image"}}}},
          {"isError", false}}},
        {{{"name", "throws"}},
         {{"content", {{{"text", "tool 'throws' failed: boom"}, {"type", "text"}}}}, {"isError", true}}},
        {{{"name", "throws_other"}},
         {{"content", {{{"text", "tool 'throws_other' failed"}, {"type", "text"}}}}, {"isError", true}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.params.dump());
        EXPECT_EQ(call(c.params), toolport::rpc_result(7, c.result));
    }
    EXPECT_EQ(call({{"name", "nope"}}), toolport::rpc_error(7, -32602, "unknown tool 'nope'"));
    EXPECT_EQ(call(nullptr), toolport::rpc_error(7, -32602, "unknown tool ''"));
}
