#include "fleet/wendle.hpp"

#include <signal.h>

#include <gtest/gtest.h>

#include "unit/fleet/support.hpp"

namespace {

using fleet::Exited;
using fleet::NotStarted;
using fleet::TimedOut;
using testing_support::EnvVar;
using testing_support::ScratchDir;
namespace fs = std::filesystem;

TEST(WendleResult, Texts) {
    struct Case {
        const char* name;
        fleet::Outcome outcome;
        std::vector<std::string> args;
        long limit;
        bool failed;
        std::string text;
    };
    const Case cases[] = {
        {"success, trimmed", Exited{.code = 0, .out = "  word\n"}, {"cron", "list"}, 20, false, "word"},
        {"empty success", Exited{.code = 0}, {"cron", "list"}, 20, false, ""},
        {"success ignores stderr", Exited{.code = 0, .out = "ok", .err = "warning"}, {"x"}, 20, false, "ok"},
        {"invalid UTF-8 replaced", Exited{.code = 0, .out = "a\xFFz"}, {"x"}, 20, false, "a\xEF\xBF\xBDz"},
        {"failure with stderr", Exited{.code = 2, .out = "ignored", .err = " no such job \n"}, {"cron", "rm", "x"}, 20,
         true, "no such job"},
        {"silent failure", Exited{.code = 2, .err = " \n"}, {"cron", "add", "x"}, 20, true,
         "wendle cron add x exited exit status: 2"},
        {"signal", Exited{.signal = SIGKILL}, {"sessions", "--json"}, 20, true,
         "wendle sessions --json exited signal: 9 (SIGKILL)"},
        {"core dump", Exited{.signal = SIGSEGV, .core_dumped = true}, {"search"}, 20, true,
         "wendle search exited signal: 11 (SIGSEGV) (core dumped)"},
        {"signal with stderr", Exited{.signal = SIGTERM, .err = "bye"}, {"x"}, 20, true, "bye"},
        {"time-out names the first argument", TimedOut{}, {"cron", "list"}, 30, true,
         "wendle cron timed out after 30s"},
        {"time-out without arguments", TimedOut{}, {}, 5, true, "wendle  timed out after 5s"},
        {"could not start", NotStarted{"No such file or directory"}, {"x"}, 20, true,
         "spawn wendle: No such file or directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto result = fleet::wendle_result(c.outcome, c.args, c.limit);
        EXPECT_EQ(result.failed, c.failed);
        EXPECT_EQ(result.text, c.text);
        EXPECT_EQ(result.output(), c.failed ? toolport::ToolOutput::failure(c.text) : toolport::ToolOutput::success(c.text));
    }
}

TEST(WendleBin, InstalledCopyWhenItIsARegularFile) {
    enum class Kind { none, file, link_to_file, directory, dangling_link };
    const std::pair<Kind, bool> cases[] = {
        {Kind::none, false},      {Kind::file, true},           {Kind::link_to_file, true},
        {Kind::directory, false}, {Kind::dangling_link, false},
    };
    for (const auto& [kind, installed] : cases) {
        SCOPED_TRACE(static_cast<int>(kind));
        ScratchDir scratch;
        auto bin = scratch.path() / ".local" / "bin";
        fs::create_directories(bin);
        auto wendle = bin / "wendle";
        if (kind == Kind::file) testing_support::write_file(wendle, "");
        if (kind == Kind::link_to_file) {
            testing_support::write_file(scratch.path() / "real", "");
            fs::create_symlink(scratch.path() / "real", wendle);
        }
        if (kind == Kind::directory) fs::create_directory(wendle);
        if (kind == Kind::dangling_link) fs::create_symlink(scratch.path() / "nowhere", wendle);
        EnvVar home("HOME", scratch.path().string());
        EXPECT_EQ(fleet::wendle_bin(), installed ? wendle.string() : "wendle");
    }
}

// The companion as a script that records its arguments and input.
class RunWendle : public testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(home() / ".local" / "bin");
        fs::create_directories(path_dir());
    }
    fs::path home() const { return scratch_.path() / "home"; }
    fs::path path_dir() const { return scratch_.path() / "path"; }
    void install(const fs::path& at, const std::string& answer) {
        testing_support::write_script(
            at, "cat > \"$HOME/input\"; for a in \"$@\"; do printf '%s|' \"$a\"; done > \"$HOME/args\"\n" + answer);
    }
    fleet::RunResult run(std::vector<std::string> args, std::optional<std::string> input, long limit) {
        EnvVar home_var("HOME", home().string());
        EnvVar path_var("PATH", path_dir().string() + ":/usr/bin:/bin");
        return testing_support::run_sync(fleet::run_wendle_io(std::move(args), std::move(input), limit));
    }
    std::string recorded(const char* name) const { return testing_support::read_file(home() / name); }

    ScratchDir scratch_;
};

TEST_F(RunWendle, ArgumentsAndInputPassUnchanged) {
    install(home() / ".local" / "bin" / "wendle", "echo '  sent  '");
    install(path_dir() / "wendle", "echo 'the one on PATH'");
    const std::string body = "caf\xC3\xA9 \xE2\x80\x94 \xF0\x9F\x93\xA8 $HOME `x` 'q'\n\nsecond line";
    auto result = run({"msg", "--to", "peer node", "-"}, body, 20);
    EXPECT_FALSE(result.failed);
    EXPECT_EQ(result.text, "sent");
    EXPECT_EQ(recorded("input"), body);
    EXPECT_EQ(recorded("args"), "msg|--to|peer node|-|");
}

TEST_F(RunWendle, FallsBackToThePath) {
    install(path_dir() / "wendle", "echo from-path; exit 0");
    auto result = run({"sessions", "--json"}, std::nullopt, 20);
    EXPECT_EQ(result.text, "from-path");
    EXPECT_EQ(recorded("input"), "");  // /dev/null
}

TEST_F(RunWendle, FailureTexts) {
    auto missing = run({"cron", "list"}, std::nullopt, 20);
    EXPECT_TRUE(missing.failed);
    EXPECT_TRUE(missing.text.starts_with("spawn wendle: ")) << missing.text;

    install(path_dir() / "wendle", "exit 2");
    auto silent = run({"cron", "add", "x"}, std::nullopt, 20);
    EXPECT_TRUE(silent.failed);
    EXPECT_EQ(silent.text, "wendle cron add x exited exit status: 2");
}

}  // namespace
