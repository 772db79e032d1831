#include "agents/wendle.hpp"

#include <gtest/gtest.h>

#include "unit/fleet/support.hpp"

namespace {

using fleet::Exited;
using fleet::NotStarted;
using testing_support::EnvVar;
using testing_support::ScratchDir;
using testing_support::write_script;
namespace fs = std::filesystem;

TEST(AgentsWendleAnswer, Texts) {
    struct Case {
        const char* name;
        fleet::Outcome outcome;
        std::optional<std::string> success;
        std::string failure;
    };
    const Case cases[] = {
        {"stdout wins over a failed exit", Exited{.code = 1, .out = " result \n", .err = "warn"}, "result", ""},
        {"stdout on success", Exited{.code = 0, .out = "{\"agents\":[]}\n"}, "{\"agents\":[]}", ""},
        {"stdout after a signal", Exited{.signal = 9, .out = "partial"}, "partial", ""},
        {"stderr when stdout is blank", Exited{.code = 0, .out = " \n", .err = " pane gone \n"}, std::nullopt,
         "pane gone"},
        {"nothing at all", Exited{.code = 3}, std::nullopt, "no output"},
        {"could not start", NotStarted{"No such file or directory"}, std::nullopt,
         "/opt/wendle not runnable: No such file or directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto answer = agents::wendle_answer(c.outcome, "/opt/wendle");
        if (c.success) {
            ASSERT_TRUE(answer.has_value()) << answer.error();
            EXPECT_EQ(*answer, *c.success);
        } else {
            ASSERT_FALSE(answer.has_value());
            EXPECT_EQ(answer.error(), c.failure);
        }
    }
}

// WENDLE_BIN names the program; without it "wendle" is found on PATH, and
// ~/.local/bin is never looked at.
TEST(AgentsWendle, ProgramChoice) {
    ScratchDir scratch;
    auto root = scratch.path();
    write_script(root / "home" / ".local" / "bin" / "wendle", "echo installed-copy");
    write_script(root / "path" / "wendle", "printf '%s|' \"$@\"; exit 1");
    write_script(root / "chosen", "echo chosen >&2; exit 4");
    EnvVar home("HOME", (root / "home").string());
    EnvVar path("PATH", (root / "path").string());
    {
        EnvVar bin("WENDLE_BIN", std::nullopt);
        auto answer = testing_support::run_sync(agents::wendle({"wez", "send", "velmora", "two words"}));
        ASSERT_TRUE(answer.has_value()) << answer.error();
        EXPECT_EQ(*answer, "wez|send|velmora|two words|");
    }
    {
        EnvVar bin("WENDLE_BIN", (root / "chosen").string());
        auto answer = testing_support::run_sync(agents::wendle({"wez", "roster"}));
        ASSERT_FALSE(answer.has_value());
        EXPECT_EQ(answer.error(), "chosen");
    }
    {
        EnvVar bin("WENDLE_BIN", (root / "missing").string());
        auto answer = testing_support::run_sync(agents::wendle({"wez", "roster"}));
        ASSERT_FALSE(answer.has_value());
        EXPECT_EQ(answer.error(), (root / "missing").string() + " not runnable: No such file or directory");
    }
}

}  // namespace
