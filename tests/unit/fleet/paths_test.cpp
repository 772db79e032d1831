#include "fleet/paths.hpp"

#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <regex>

#include <gtest/gtest.h>

#include "unit/fleet/support.hpp"

namespace {

using testing_support::EnvVar;
using testing_support::ScratchDir;
namespace fs = std::filesystem;

std::string account_home() { return ::getpwuid(::getuid())->pw_dir; }

TEST(FleetHome, FromEnvironment) {
    struct Case {
        const char* name;
        std::optional<std::string> wendle_home, home;
        std::string expected;
    };
    const Case cases[] = {
        {"fleet home as given, untrimmed", " ~/fleet ", "/Users/x", " ~/fleet "},
        {"empty fleet home is ignored", "", "/Users/x", "/Users/x/.wendle"},
        {"unset fleet home", std::nullopt, "/Users/x", "/Users/x/.wendle"},
        {"empty home gives a relative path", std::nullopt, "", ".wendle"},
        {"no HOME: the account database", std::nullopt, std::nullopt, account_home() + "/.wendle"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EnvVar fleet("WENDLE_HOME", c.wendle_home), home("HOME", c.home);
        EXPECT_EQ(fleet::fleet_home().string(), c.expected);
    }
}

TEST(HomeDir, EnvironmentFirstThenAccountDatabase) {
    {
        EnvVar home("HOME", "");
        EXPECT_EQ(fleet::home_dir(), fs::path(""));
    }
    EnvVar home("HOME", std::nullopt);
    EXPECT_EQ(fleet::home_dir(), fs::path(account_home()));
}

TEST(ExpandTilde, Cases) {
    EnvVar home("HOME", "/Users/x");
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"~", "/Users/x"},
        {"~/a/b", "/Users/x/a/b"},
        {"~/", "/Users/x/"},
        {"~//etc/hosts", "/etc/hosts"},  // an absolute remainder replaces the home
        {"~x/a", "~x/a"},
        {"/tmp/~/a", "/tmp/~/a"},
        {" ~/a", " ~/a"},
        {"~~", "~~"},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(fleet::expand_tilde(text), expected);
    }
}

TEST(PathStrings, Cases) {
    using fleet::json;
    struct Case {
        json value;
        std::optional<std::vector<std::string>> paths;
        std::string error;
    };
    const Case cases[] = {
        {json::array({"/a", "  ", "", " /b "}), std::vector<std::string>{"/a", "/b"}, ""},
        {json::array(), std::vector<std::string>{}, ""},
        {json::array({"/a", 3}), std::nullopt, "allow must contain only path strings"},
        {json::array({"/a", nullptr}), std::nullopt, "allow must contain only path strings"},
        {json::array({json::array({"/a"})}), std::nullopt, "allow must contain only path strings"},
        {json("/a"), std::nullopt, "allow must be an array of paths"},
        {json(nullptr), std::nullopt, "allow must be an array of paths"},
        {json::object({{"0", "/a"}}), std::nullopt, "allow must be an array of paths"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value.dump());
        auto result = fleet::path_strings(c.value, "allow");
        if (c.paths) {
            ASSERT_TRUE(result.has_value()) << result.error();
            EXPECT_EQ(*result, *c.paths);
        } else {
            ASSERT_FALSE(result.has_value());
            EXPECT_EQ(result.error(), c.error);
        }
    }
}

TEST(ResolveCanonical, WithRealLinks) {
    ScratchDir scratch;
    const fs::path root = fs::canonical(scratch.path());
    fs::create_directories(root / "real" / "inner");
    fs::create_directories(root / "a");
    fs::create_directories(root / "b" / "c");
    fs::create_directory_symlink(root / "real", root / "link");
    fs::create_directory_symlink(root / "b" / "c", root / "a" / "jump");
    fs::create_symlink(root / "nowhere", root / "dangling");

    const std::pair<fs::path, fs::path> cases[] = {
        // The shape of /tmp/../tmp/new/dir where /tmp is a link.
        {root / "link" / ".." / "link" / "new" / "dir", root / "real" / "new" / "dir"},
        {root / "link" / "inner", root / "real" / "inner"},
        // ".." applies to the resolved path, not to the text.
        {root / "a" / "jump" / ".." / "x", root / "b" / "x"},
        {root / "." / "link" / "." / "inner" / "", root / "real" / "inner"},
        {root / "dangling" / "x", root / "dangling" / "x"},
        {root / "missing" / ".." / "link", root / "real"},
        {"/velmora-no-such-root/a/../b", "/velmora-no-such-root/b"},
        {"/..", "/"},
        {"/", "/"},
    };
    for (const auto& [input, expected] : cases) {
        SCOPED_TRACE(input.string());
        EXPECT_EQ(fleet::resolve_canonical(input), expected);
    }
}

TEST(FormatRfc3339, Dates) {
    struct Case {
        std::int64_t seconds;
        std::uint32_t millis;
        const char* text;
    };
    const Case cases[] = {
        {0, 0, "1970-01-01T00:00:00.000Z"},
        {951782400, 0, "2000-02-29T00:00:00.000Z"},
        {-1, 0, "1969-12-31T23:59:59.000Z"},
        {-1, 999, "1969-12-31T23:59:59.999Z"},
        {-86400, 0, "1969-12-31T00:00:00.000Z"},
        {-86401, 0, "1969-12-30T23:59:59.000Z"},
        {1785834307, 42, "2026-08-04T09:05:07.042Z"},
        {1709251199, 5, "2024-02-29T23:59:59.005Z"},
        {-2203977600, 0, "1900-02-28T00:00:00.000Z"},  // 1900 has no leap day
        {-2203891200, 0, "1900-03-01T00:00:00.000Z"},
        {-62135596800, 0, "0001-01-01T00:00:00.000Z"},
        {-62167219200, 0, "0000-01-01T00:00:00.000Z"},
        {253402300800, 0, "10000-01-01T00:00:00.000Z"},
        {0, 1234, "1970-01-01T00:00:00.1234Z"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(fleet::format_rfc3339(c.seconds, c.millis), c.text);
    }
}

TEST(Now, TextAndSecondsAgree) {
    auto before = std::chrono::system_clock::now();
    auto now = fleet::now();
    auto after = std::chrono::system_clock::now();
    EXPECT_TRUE(std::regex_match(now.rfc3339, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)"))) << now.rfc3339;
    auto to_seconds = [](auto t) { return std::chrono::duration<double>(t.time_since_epoch()).count(); };
    EXPECT_GE(now.seconds, std::floor(to_seconds(before) * 1000) / 1000);
    EXPECT_LE(now.seconds, to_seconds(after));
    // The seconds keep the clock's full precision; the text truncates them to
    // milliseconds (a double may round the last nanoseconds up across one).
    const auto text_at = [](long long millis) {
        return fleet::format_rfc3339(millis / 1000, static_cast<std::uint32_t>(millis % 1000));
    };
    const auto millis_total = static_cast<long long>(std::floor(now.seconds * 1000));
    EXPECT_TRUE(now.rfc3339 == text_at(millis_total) || now.rfc3339 == text_at(millis_total - 1)) << now.rfc3339;
}

TEST(Utf8Lossy, ReplacesEachMaximalBadSequence) {
    const std::string fffd = "\xEF\xBF\xBD";
    const std::pair<std::string, std::string> cases[] = {
        {"plain", "plain"},
        {"h\xC3\xA9 \xE4\xB8\x96 \xF0\x9F\x9A\x80", "h\xC3\xA9 \xE4\xB8\x96 \xF0\x9F\x9A\x80"},
        {std::string("a\0b", 3), std::string("a\0b", 3)},
        {"\xFF", fffd},
        {"a\x80z", "a" + fffd + "z"},
        {"a\xE2\x82", "a" + fffd},                      // truncated at the end: one replacement
        {"\xE2\x82" "a", fffd + "a"},
        {"\xF0\x9F\x98", fffd},
        {"\xC0\xAF", fffd + fffd},                      // overlong
        {"\xED\xA0\x80", fffd + fffd + fffd},           // surrogate
        {"\xF4\x90\x80\x80", fffd + fffd + fffd + fffd},  // above U+10FFFF
        {"\xE0\x80\x80", fffd + fffd + fffd},
        {"\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},        // U+10FFFF itself
    };
    for (const auto& [bytes, expected] : cases) {
        SCOPED_TRACE(testing::PrintToString(bytes));
        EXPECT_EQ(fleet::utf8_lossy(bytes), expected);
    }
}

}  // namespace
