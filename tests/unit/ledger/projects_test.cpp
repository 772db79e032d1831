// The project list: ephemeral paths, the dash-key token search, the merge by
// path, and name resolution to keys and repository directories.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ledger/projects.hpp"
#include "unit/ledger/ledger_fixture.hpp"

namespace {

using namespace ledger_test;
using ledger::ProjectEntry;
using ledger::SessionRow;

TEST(LedgerProjects, EphemeralPaths) {
    const std::pair<std::string, bool> cases[] = {
        {"/tmp", true},
        {"/tmp/x", true},
        {"/private/tmp/x", true},
        {"/private/private/tmp/x", false},  // one /private is removed, not two
        {"/tmpfoo", false},
        {"/var/folders/ab/T/x", true},
        {"/private/var/folders/ab/T/x", true},
        {"/var/foldersx/a", false},
        {"/Users/u/Library/Application Support/app", true},
        {"/w/missions/sandbox/b", true},
        {"/w/missions/sandbox", false},
        {"/w/p/2024", true},
        {"/w/2024/p", false},
        {"/w/p/", false},
        {"/w/wf/p", true},
        {"/w/wf_1a-F/p", true},
        {"/w/wf_beef", true},
        {"/w/wf_", false},
        {"/w/wf_xyz", false},
        {"/w/wfx/p", false},
        {"/Users/u/src/my-app", false},
    };
    for (const auto& [path, ephemeral] : cases) {
        SCOPED_TRACE(path);
        EXPECT_EQ(ledger::is_ephemeral_path(path), ephemeral);
    }
}

TEST(LedgerProjects, TokenSearchJoinsTokensIntoComponents) {
    ScratchDir scratch;
    const std::string base = scratch.path().string();
    scratch.dir("src/my-app");
    scratch.dir("src/web.site/docs");
    scratch.dir("src/snake_case");
    scratch.dir("src/with space");
    scratch.dir("src/both/app");
    scratch.dir("src/both-app");
    scratch.dir(".hidden/cfg");
    scratch.dir("long/a-b-c-d-e-f");
    scratch.dir("long/a-b-c-d-e-f-g");
    scratch.dir("src/café-crème");
    struct Case {
        std::vector<std::string> tokens;
        std::size_t count;
        std::string found;  // relative to the base; "-" for none
    };
    const Case cases[] = {
        {{"src", "my", "app"}, 3, "src/my-app"},
        {{"src", "web", "site", "docs"}, 4, "src/web.site/docs"},
        {{"src", "snake", "case"}, 3, "src/snake_case"},
        {{"src", "with", "space"}, 3, "src/with space"},
        {{"src", "café", "crème"}, 3, "src/café-crème"},
        {{"src", "both", "app"}, 3, "src/both/app"},  // breadth first: the shorter component wins
        {{"", "hidden", "cfg"}, 3, ".hidden/cfg"},     // an empty token joins as a leading dot
        {{"long", "a", "b", "c", "d", "e", "f"}, 7, "long/a-b-c-d-e-f"},
        {{"long", "a", "b", "c", "d", "e", "f", "g"}, 8, "-"},  // a component spans six tokens at most
        {{"src", "my", "app"}, 2, "-"},                          // only the first `count` tokens
        {{"src", "nothing"}, 2, "-"},
        {{"src", "..", "src"}, 3, "-"},  // no stepping out through ".."
        {{}, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.tokens));
        const std::string found = ledger::resolve_toks(base, c.tokens, c.count);
        if (c.found == "-") EXPECT_EQ(found, "");
        else EXPECT_EQ(found, c.found.empty() ? base : base + "/" + c.found);
    }
}

TEST(LedgerProjects, DashKeysBecomeDirectories) {
    ScratchDir scratch;
    const fs::path src = scratch.dir("src");
    const fs::path app = scratch.dir("src/my-app");
    struct Case {
        std::string key;
        std::string path;  // "" when the row is dropped
        bool resolved;
    };
    const std::string tail = dash_key(src);
    const Case cases[] = {
        {dash_key(app), app.string(), true},
        // Neither src/my-app nor src/my exists, src does: the rest is appended.
        {tail + "-their-tool", src.string() + "/their/tool", false},
        {"-home-u-proj", "/home/u/proj", false},  // never probed
        {"-nowhere-at-all", "/nowhere/at/all", false},
        {"-tmp-x", "", false},
        {"-private-var-folders-ab-T-x", "", false},
        {tail + "-build-42", "", false},
        {"/tmp/plain", "", false},
        {src.string() + "//my-app", app.string(), true},  // plain keys: doubled slashes collapse
        {"relative/none", "relative/none", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        auto entries = ledger::merge_projects({{c.key, "n", 1}});
        if (c.path.empty()) {
            EXPECT_TRUE(entries.empty());
            continue;
        }
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].key, c.key);
        EXPECT_EQ(entries[0].path, c.path);
        EXPECT_EQ(entries[0].resolved, c.resolved);
    }
}

TEST(LedgerProjects, MergeKeepsOneEntryPerPath) {
    ScratchDir scratch;
    const fs::path app = scratch.dir("src/app");
    const std::string dash = dash_key(app), plain = app.string(), doubled = scratch.path().string() + "//src/app";
    struct Case {
        const char* what;
        std::vector<SessionRow> rows;
        std::string kept_key, kept_name;
    };
    const Case cases[] = {
        {"dash key wins over an older plain key", {{plain, "plain", 9}, {dash, "dash", 1}}, dash, "dash"},
        {"dash key stays against a newer plain key", {{dash, "dash", 1}, {plain, "plain", 9}}, dash, "dash"},
        {"two plain keys: the newer wins", {{plain, "old", 1}, {doubled, "new", 2}}, doubled, "new"},
        {"two plain keys: a tie keeps the first", {{plain, "first", 5}, {doubled, "second", 5}}, plain, "first"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto entries = ledger::merge_projects(c.rows);
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].path, plain);
        EXPECT_EQ(entries[0].key, c.kept_key);
        EXPECT_EQ(entries[0].name, c.kept_name);
        EXPECT_TRUE(entries[0].resolved);
    }
}

TEST(LedgerProjects, ResolvedFlagIsTheOrOfEveryRowAtThePath) {
    // "-home" is never probed; the plain key "/home" is.
    std::error_code ec;
    if (!fs::is_directory("/home", ec)) GTEST_SKIP() << "no /home on this machine";
    auto entries = ledger::merge_projects({{"/home", "plain", 9}, {"-home", "dash", 1}});
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].key, "-home");
    EXPECT_TRUE(entries[0].resolved);
}

class LedgerProjectList : public LedgerTest {};

TEST_F(LedgerProjectList, ListsOneEntryPerPathSortedWithLatestActivity) {
    const fs::path beta = scratch_.dir("src/beta"), alpha = scratch_.dir("src/alpha");
    session(dash_key(beta), "Beta", "5");
    session(dash_key(beta), "", "7");
    session(dash_key(alpha), "Alpha", "3");
    session("", "ignored", "9");
    session(dash_key(scratch_.dir("src/idle")), "Idle", "NULL");
    session("-tmp-scratch", "temp", "1");
    auto list = ledger::project_list();
    ASSERT_TRUE(list) << list.error();
    ASSERT_EQ(list->size(), 2u);
    EXPECT_EQ((*list)[0].path, alpha.string());
    EXPECT_EQ((*list)[0].name, "Alpha");
    EXPECT_EQ((*list)[1].path, beta.string());
    EXPECT_TRUE((*list)[1].resolved);

    exec(ledger_, "DROP TABLE sessions");
    EXPECT_EQ(ledger::project_list().error(), "no such table: sessions");
}

TEST_F(LedgerProjectList, ResolveProjectKey) {
    const fs::path app = scratch_.dir("src/My-App");
    const fs::path one = scratch_.dir("a/tool"), two = scratch_.dir("b/tool");
    session(dash_key(app), "", "1");
    session(dash_key(scratch_.dir("src/engine")), "Fancy Name", "1");
    session(dash_key(one), "", "1");
    session(dash_key(two), "", "2");
    session(dash_key(scratch_.dir("src/quiet")), "", "NULL");
    write_file(home_ / ".wendle/projects/quiet/overview.md",
               "# Quiet\r\n**Key:** `-no-close\r\n**Key:**`-no-space`\r\n**Key:** `\r\n**Key:** `-from-brief`\r\n");
    write_file(home_ / ".wendle/projects/blank/overview.md", "**Key:** ``\n**Key:** `-later`\n");
    write_file(home_ / ".wendle/projects/.hidden/overview.md", "**Key:** `-never`\n");
    struct Case {
        std::string name;
        std::string outcome;  // the key, or "failure: " and the text
    };
    const std::string a = dash_key(one), b = dash_key(two);
    // The empty name equals the empty name of every entry without one.
    std::vector<std::string> unnamed = {dash_key(app), a, b};
    std::ranges::sort(unnamed);
    const Case cases[] = {
        {"-any-key", "-any-key"},
        {"/any/path", "/any/path"},
        {"my-app", dash_key(app)},
        {"MY-APP", dash_key(app)},
        {"fancy name", dash_key(scratch_.path() / "src/engine")},
        {"tool", "failure: ambiguous project 'tool': keys " + std::min(a, b) + ", " + std::max(a, b)},
        {"quiet", "-from-brief"},  // its sessions have no times: only the brief knows it
        {"missing", "failure: no project matches 'missing' — see project_list"},
        {".hidden", "failure: no project matches '.hidden' — see project_list"},
        {"a\\b", "failure: no project matches 'a\\b' — see project_list"},
        {"blank", ""},  // the first key line names the empty key
        {"", "failure: ambiguous project '': keys " + unnamed[0] + ", " + unnamed[1] + ", " + unnamed[2]},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(shown(ledger::resolve_project_key(c.name)), c.outcome);
    }
    // A key is taken as it is, without opening the ledger.
    env_.set("WENDLE_LEDGER", (scratch_.path() / "gone/ledger.db").string());
    EXPECT_EQ(*ledger::resolve_project_key("-k"), "-k");
    EXPECT_EQ(ledger::resolve_project_key("name").error(), "unable to open database file");
}

TEST_F(LedgerProjectList, ProjectRoot) {
    const fs::path widget = scratch_.dir("src/widget");
    const fs::path one = scratch_.dir("a/tool"), two = scratch_.dir("b/tool");
    session(dash_key(widget), "", "1");
    session("widget", "", "1");  // a plain key naming no directory: unresolved
    session(dash_key(one), "", "1");
    session(dash_key(two), "", "1");
    session("-home-nobody-ghost", "", "1");
    struct Case {
        std::string name;
        std::string outcome;  // the path, or "failure: " and the text
    };
    const Case cases[] = {
        {dash_key(widget), widget.string()},
        {"  " + dash_key(widget) + "\n", widget.string()},
        {"WIDGET", widget.string()},
        {"widget", "failure: project 'widget' has no resolvable path on this node"},  // the key match decides
        {"-home-nobody-ghost", "failure: project '-home-nobody-ghost' has no resolvable path on this node"},
        {"ghost", "failure: no project named 'ghost' with a resolvable path — see project_list"},
        {"tool", "failure: ambiguous project 'tool': " + one.string() + ", " + two.string()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(shown(ledger::project_root(c.name)), c.outcome);
    }
}

}  // namespace
