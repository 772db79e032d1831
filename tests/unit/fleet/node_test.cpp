#include "fleet/node.hpp"

#include <gtest/gtest.h>

#include "unit/fleet/support.hpp"

namespace {

using testing_support::EnvVar;
using testing_support::ScratchDir;

// Each case runs in a scratch folder: HOME is <root>/home, the fleet home (when
// set) <root>/fleet, and PATH holds only <root>/bin, where a `hostname` script
// stands when the case gives one.
TEST(FleetNodeId, SourcesInOrder) {
    struct Case {
        const char* name;
        std::optional<std::string> wendle_node;
        bool set_fleet_home;
        std::vector<std::pair<std::string, std::string>> files;  // relative to the root
        std::optional<std::string> hostname_script;
        std::string expected;
    };
    const Case cases[] = {
        {"node variable, trimmed", "  mac-mini \n", true, {{"fleet/config/node", "other"}}, "echo host", "mac-mini"},
        {"blank node variable falls through", "   ", false, {{"home/.wendle/config/node", "studio\n"}}, "echo host",
         "studio"},
        {"fleet home's file", std::nullopt, true,
         {{"fleet/config/node", " air \n"}, {"home/.wendle/config/node", "studio"}}, "echo host", "air"},
        {"~/.claude when there is no ~/.wendle", std::nullopt, false, {{"home/.claude/config/node", "pro"}},
         "echo host", "pro"},
        {"~/.wendle wins over ~/.claude even without a file", std::nullopt, false,
         {{"home/.wendle/vault/x", ""}, {"home/.claude/config/node", "pro"}}, "printf '  box \\n'", "box"},
        {"blank file: hostname", std::nullopt, true, {{"fleet/config/node", " \n"}}, "echo box", "box"},
        {"file that is not UTF-8: hostname", std::nullopt, true, {{"fleet/config/node", "bo\377x"}}, "echo box", "box"},
        {"hostname's exit status is not read", std::nullopt, false, {}, "echo box; exit 3", "box"},
        {"blank hostname output", std::nullopt, false, {}, "echo '   '", "localhost"},
        {"hostname output that is not UTF-8", std::nullopt, false, {}, "printf 'bo\\377x'", "localhost"},
        {"no hostname program", std::nullopt, false, {}, std::nullopt, "localhost"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir scratch;
        const auto& root = scratch.path();
        std::filesystem::create_directories(root / "home");
        std::filesystem::create_directories(root / "bin");
        for (const auto& [path, content] : c.files) testing_support::write_file(root / path, content);
        if (c.hostname_script) testing_support::write_script(root / "bin" / "hostname", *c.hostname_script);
        EnvVar node("WENDLE_NODE", c.wendle_node);
        EnvVar fleet_home("WENDLE_HOME", c.set_fleet_home ? std::optional((root / "fleet").string()) : std::nullopt);
        EnvVar home("HOME", (root / "home").string());
        EnvVar path("PATH", (root / "bin").string());
        EXPECT_EQ(testing_support::run_sync(fleet::fleet_node_id()), c.expected);
    }
}

}  // namespace
