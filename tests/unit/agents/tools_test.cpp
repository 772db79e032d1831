#include <gtest/gtest.h>

#include "agents/launch.hpp"
#include "agents/sessions.hpp"

namespace {

using toolport::json;
using Args = std::vector<std::string>;

TEST(LaunchArgs, Table) {
    struct Case {
        const char* name;
        json args;
        std::optional<Args> argv;
        std::string refusal;
    };
    const Case cases[] = {
        {"minimal: exactly six arguments", {{"cwd", "/src/app"}, {"brief", "fix the build"}},
         Args{"launch", "--cwd", "/src/app", "--brief", "fix the build", "--json"}, ""},
        {"cwd and brief are trimmed", {{"cwd", "  /src/app \t"}, {"brief", "\n do it \n"}},
         Args{"launch", "--cwd", "/src/app", "--brief", "do it", "--json"}, ""},
        {"provider and model as given", {{"cwd", "/a"}, {"brief", "b"}, {"provider", " glm "}, {"model", "m-1"}},
         Args{"launch", "--cwd", "/a", "--brief", "b", "--json", "--provider", " glm ", "--model", "m-1"}, ""},
        {"empty provider is still passed", {{"cwd", "/a"}, {"brief", "b"}, {"provider", ""}},
         Args{"launch", "--cwd", "/a", "--brief", "b", "--json", "--provider", ""}, ""},
        {"provider of another type is ignored", {{"cwd", "/a"}, {"brief", "b"}, {"provider", 3}, {"model", nullptr}},
         Args{"launch", "--cwd", "/a", "--brief", "b", "--json"}, ""},
        {"model alone", {{"cwd", "/a"}, {"brief", "b"}, {"model", "opus"}},
         Args{"launch", "--cwd", "/a", "--brief", "b", "--json", "--model", "opus"}, ""},
        {"blank brief", {{"cwd", "/a"}, {"brief", "   "}}, std::nullopt, "brief is required"},
        {"missing cwd is named first", {{"brief", ""}}, std::nullopt, "cwd is required"},
        {"cwd of another type", {{"cwd", 7}, {"brief", "b"}}, std::nullopt, "cwd is required"},
        {"arguments that are not an object", json::array({"/a", "b"}), std::nullopt, "cwd is required"},
        {"null arguments", nullptr, std::nullopt, "cwd is required"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto argv = agents::launch_args(c.args);
        if (c.argv) {
            ASSERT_TRUE(argv.has_value()) << argv.error().text;
            EXPECT_EQ(*argv, *c.argv);
        } else {
            ASSERT_FALSE(argv.has_value());
            EXPECT_EQ(argv.error(), toolport::ToolOutput::failure(c.refusal));
        }
    }
}

TEST(SessionsArgs, Table) {
    const std::pair<json, Args> cases[] = {
        {json::object(), Args{"sessions", "--json"}},
        {{{"all", true}}, Args{"sessions", "--all", "--json"}},
        {{{"all", false}}, Args{"sessions", "--json"}},
        {{{"all", "true"}}, Args{"sessions", "--json"}},
        {{{"all", 1}}, Args{"sessions", "--json"}},
        {nullptr, Args{"sessions", "--json"}},
    };
    for (const auto& [args, argv] : cases) {
        SCOPED_TRACE(args.dump());
        EXPECT_EQ(agents::sessions_args(args), argv);
    }
}

TEST(AgentTools, Records) {
    auto launch = agents::tool_agent_launch();
    EXPECT_EQ(launch.name, "agent_launch");
    EXPECT_EQ(launch.description,
              "MUTATES + SPENDS: open a wezterm pane and start a REAL agent session with a brief (wendle launch). The "
              "session runs autonomously and bills its provider — confirm the brief and cwd with the user first. "
              "Complements the goal-only work_file(launch) path.");
    EXPECT_EQ(toolport::dump(launch.input_schema),
              R"j({"properties":{"brief":{"type":"string"},"cwd":{"description":"directory the agent works in (absolute)","type":"string"},)j"
              R"j("model":{"description":"default: the provider's capable model (opus for claude)","type":"string"},)j"
              R"j("provider":{"description":"claude (default) | glm | qwen | deepseek | vertex | nemo","type":"string"}},)j"
              R"j("required":["cwd","brief"],"type":"object"})j");

    auto sessions = agents::tool_sessions();
    EXPECT_EQ(sessions.name, "sessions");
    EXPECT_EQ(sessions.description,
              "Live agent sessions across the fleet: [{node, name, project, cwd, status: idle|busy, pid, title, ...}]. "
              "The dispatch-observability surface — after filing work with launch:true, a busy session in that project "
              "confirms the agent is alive and working. Set all:true to include stale/exited sessions.");
    EXPECT_EQ(toolport::dump(sessions.input_schema),
              R"j({"properties":{"all":{"description":"include stale/exited sessions","type":"boolean"}},"type":"object"})j");
}

}  // namespace
