// agent_launch and sessions through the real binary, against the recording
// stub standing in for the companion.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "e2e/fixture.hpp"

using e2e::json;
namespace fs = std::filesystem;

namespace {

using Args = std::vector<std::string>;

class AgentTools : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server_ = new e2e::Server(); }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }

    e2e::Server& server() { return *server_; }

    // Runs the tool against a companion answering `reply`, and returns the
    // result with the one call the companion saw (none: empty args).
    std::pair<e2e::CallResult, e2e::StubCall> call(const std::string& tool, json arguments, e2e::StubReply reply) {
        server().stub("wendle", std::move(reply));
        const auto before = server().calls("wendle").size();
        auto result = server().call(tool, std::move(arguments));
        auto calls = server().calls("wendle");
        EXPECT_LE(calls.size(), before + 1);
        return {result, calls.size() > before ? calls.back() : e2e::StubCall{}};
    }

    static e2e::Server* server_;
};

e2e::Server* AgentTools::server_ = nullptr;

TEST_F(AgentTools, LaunchPassesItsArgumentsAndTheAnswer) {
    struct Case {
        const char* name;
        json arguments;
        Args args;
    };
    const Case cases[] = {
        {"exactly six arguments", {{"cwd", "/src/app"}, {"brief", "ship it"}},
         {"launch", "--cwd", "/src/app", "--brief", "ship it", "--json"}},
        {"cwd trimmed, provider and model as given",
         {{"cwd", "  /src/app  "}, {"brief", "b"}, {"provider", ""}, {"model", " opus "}},
         {"launch", "--cwd", "/src/app", "--brief", "b", "--json", "--provider", "", "--model", " opus "}},
        {"provider of another type left out", {{"cwd", "/a"}, {"brief", "b"}, {"provider", 3}},
         {"launch", "--cwd", "/a", "--brief", "b", "--json"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto [result, seen] = call("agent_launch", c.arguments, {.out = "\n{\"pane\":7,\"session\":\"s-1\"}\n"});
        EXPECT_FALSE(result.is_error);
        EXPECT_EQ(result.text, "{\"pane\":7,\"session\":\"s-1\"}");
        EXPECT_EQ(seen.args, c.args);
        EXPECT_EQ(seen.input, "");
    }
}

TEST_F(AgentTools, LaunchRefusesBeforeRunningAnything) {
    const std::pair<json, std::string> cases[] = {
        {{{"cwd", "/a"}, {"brief", "   "}}, "brief is required"},
        {{{"brief", "b"}}, "cwd is required"},
        {nullptr, "cwd is required"},
    };
    for (const auto& [arguments, text] : cases) {
        SCOPED_TRACE(arguments.dump());
        auto [result, seen] = call("agent_launch", arguments, {.out = "should not run"});
        EXPECT_TRUE(result.is_error);
        EXPECT_EQ(result.text, text);
        EXPECT_TRUE(seen.args.empty());
    }
}

TEST_F(AgentTools, CompanionFailures) {
    const json launch = {{"cwd", "/a"}, {"brief", "b"}};
    {
        auto [result, seen] = call("agent_launch", launch, {.out = "ignored", .err = " unknown provider \n", .exit_code = 3});
        EXPECT_TRUE(result.is_error);
        EXPECT_EQ(result.text, "unknown provider");
    }
    {
        auto [result, seen] = call("agent_launch", launch, {.exit_code = 2});
        EXPECT_TRUE(result.is_error);
        EXPECT_EQ(result.text, "wendle launch --cwd /a --brief b --json exited exit status: 2");
    }
    {
        auto [result, seen] = call("sessions", json::object(), {.exit_code = 1});
        EXPECT_TRUE(result.is_error);
        EXPECT_EQ(result.text, "wendle sessions --json exited exit status: 1");
    }
}

TEST_F(AgentTools, SessionsArguments) {
    const std::pair<json, Args> cases[] = {
        {json::object(), {"sessions", "--json"}},
        {{{"all", true}}, {"sessions", "--all", "--json"}},
        {{{"all", "true"}}, {"sessions", "--json"}},
    };
    for (const auto& [arguments, args] : cases) {
        SCOPED_TRACE(arguments.dump());
        auto [result, seen] = call("sessions", arguments, {.out = "[{\"node\":\"mac\",\"status\":\"busy\"}]\n"});
        EXPECT_FALSE(result.is_error);
        EXPECT_EQ(result.text, "[{\"node\":\"mac\",\"status\":\"busy\"}]");
        EXPECT_EQ(seen.args, args);
    }
    // An empty answer is still one (empty) text item.
    auto [empty, seen] = call("sessions", json::object(), {});
    EXPECT_FALSE(empty.is_error);
    EXPECT_EQ(empty.result["content"], json::parse(R"([{"text":"","type":"text"}])"));
}

// The program is looked up on every call: an installed ~/.local/bin/wendle
// wins over the one on PATH, and with neither the call cannot start.
TEST_F(AgentTools, CompanionLocationPerCall) {
    const fs::path installed = server().home() / ".local" / "bin" / "wendle";
    fs::create_directories(installed.parent_path());
    std::ofstream(installed) << "#!/bin/sh\necho installed copy\n";
    fs::permissions(installed, fs::perms::owner_all);
    server().stub("wendle", {.out = "stub on PATH"});
    EXPECT_EQ(server().call("sessions", json::object()).text, "installed copy");

    fs::remove(installed);
    EXPECT_EQ(server().call("sessions", json::object()).text, "stub on PATH");

    fs::remove(server().stub_dir() / "wendle");
    auto missing = server().call("sessions", json::object());
    EXPECT_TRUE(missing.is_error);
    EXPECT_TRUE(missing.text.starts_with("spawn wendle: ")) << missing.text;
    server().stub("wendle", {});  // put the stub back for the other cases
}

}  // namespace
