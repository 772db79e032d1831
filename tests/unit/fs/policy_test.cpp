#include "fs/policy.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using fsaccess::covers;
using fsaccess::parse_allowlist;

struct CoversCase {
    std::vector<std::string> roots;
    std::string path;
    bool covered;
};

TEST(FsCovers, MatchesWholeComponents) {
    const CoversCase cases[] = {
        {{"/a/b"}, "/a/b", true},
        {{"/a/b"}, "/a/b/c", true},
        {{"/a/b"}, "/a/b/c/d.txt", true},
        {{"/a/b"}, "/a/bc", false},
        {{"/a/b"}, "/a/b.txt", false},
        {{"/a/b"}, "/a", false},
        {{"/a/b"}, "/", false},
        {{"/a/b"}, "/x/a/b", false},
        {{"/a/b"}, "/a/b/", true},
        {{"/a/b/"}, "/a/b/c", true},
        {{"/a/bc"}, "/a/b", false},
        {{"/"}, "/anything/at/all", true},
        {{}, "/a", false},
        {{"/x", "/a/b"}, "/a/b/c", true},
        {{"/x", "/y"}, "/a/b/c", false},
        // a relative entry never matches an absolute request
        {{"a/b"}, "/a/b", false},
        {{"/A/B"}, "/a/b", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        std::vector<std::filesystem::path> roots(c.roots.begin(), c.roots.end());
        EXPECT_EQ(covers(roots, c.path), c.covered);
    }
}

const std::string object_form = "{\"allow\":[…],\"deny\":[…]}";

struct ProblemCase {
    std::string text;
    std::string problem;
};

TEST(FsAllowlistParser, ReportsEachProblem) {
    const ProblemCase cases[] = {
        {"[\"/a\", 3]", "the root array must contain only path strings"},
        {"[[\"/a\"]]", "the root array must contain only path strings"},
        {"{\"allow\":[\"/a\"],\"comment\":\"mine\"}", "unknown key 'comment' — the object form is " + object_form},
        // the first foreign name in byte order, before any other check
        {"{\"zeta\":1,\"beta\":2,\"deny\":5}", "unknown key 'beta' — the object form is " + object_form},
        {"{\"Allow\":[\"/a\"]}", "unknown key 'Allow' — the object form is " + object_form},
        {"{}", "the object form needs an \"allow\" array"},
        {"{\"deny\":[\"/a\"]}", "the object form needs an \"allow\" array"},
        {"{\"deny\":7}", "the object form needs an \"allow\" array"},
        {"{\"allow\":\"/a\"}", "\"allow\" must be an array of paths"},
        {"{\"allow\":null}", "\"allow\" must be an array of paths"},
        {"{\"allow\":[\"/a\", false]}", "\"allow\" must contain only path strings"},
        {"{\"allow\":[\"/a\"],\"deny\":{}}", "\"deny\" must be an array of paths"},
        {"{\"allow\":[\"/a\"],\"deny\":[null]}", "\"deny\" must contain only path strings"},
        // both lists malformed: the deny problem is the one reported
        {"{\"allow\":5,\"deny\":[1]}", "\"deny\" must contain only path strings"},
        {"{\"allow\":[2],\"deny\":\"/x\"}", "\"deny\" must be an array of paths"},
        {"\"/a\"", "expected a JSON array of paths, or " + object_form},
        {"42", "expected a JSON array of paths, or " + object_form},
        {"true", "expected a JSON array of paths, or " + object_form},
        {"null", "expected a JSON array of paths, or " + object_form},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        auto parsed = parse_allowlist(c.text);
        ASSERT_FALSE(parsed.has_value());
        EXPECT_EQ(parsed.error(), c.problem);
    }
}

TEST(FsAllowlistParser, ReportsUnreadableJsonWithTheReadersText) {
    for (const std::string text : {"[/a]", "{\"allow\":[\"/a\"]", "[\"/a\"] trailing", "1E400"}) {
        SCOPED_TRACE(text);
        auto parsed = parse_allowlist(text);
        ASSERT_FALSE(parsed.has_value());
        EXPECT_TRUE(parsed.error().starts_with("not valid JSON (")) << parsed.error();
        EXPECT_TRUE(parsed.error().ends_with(")")) << parsed.error();
        EXPECT_GT(parsed.error().size(), std::string("not valid JSON ()").size());
    }
}

struct EntriesCase {
    std::string text;
    std::vector<std::string> allow;
    std::vector<std::string> deny;
};

TEST(FsAllowlistParser, ReadsBothForms) {
    const EntriesCase cases[] = {
        {"", {}, {}},
        {" \n\t ", {}, {}},
        {"[]", {}, {}},
        {"[\" /a \", \"\", \"   \", \"~/notes\", \"~\"]", {"/a", "~/notes", "~"}, {}},
        {"{\"allow\":[]}", {}, {}},
        {"{\"allow\":[\"/a\"],\"deny\":[\" /a/private \", \"\"]}", {"/a"}, {"/a/private"}},
        {"{\"deny\":[\"/b/x\"],\"allow\":[\"/b\",\"/c\"]}", {"/b", "/c"}, {"/b/x"}},
        {"\xEF\xBB\xBF[\"/a\"]", {"/a"}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        auto parsed = parse_allowlist(c.text);
        ASSERT_TRUE(parsed.has_value()) << parsed.error();
        EXPECT_EQ(parsed->allow, c.allow);
        EXPECT_EQ(parsed->deny, c.deny);
    }
}

TEST(FsReasons, CodesInTheirListedOrder) {
    std::string joined;
    for (auto reason : fsaccess::all_reasons) {
        if (!joined.empty()) joined += ", ";
        joined += fsaccess::reason_code(reason);
    }
    EXPECT_EQ(joined,
              "bad_request, no_allowlist, outside_allowlist, denylisted, secret_class, not_found, not_a_file, "
              "not_a_directory, too_large, binary_unsupported, io_error");
}

}  // namespace
