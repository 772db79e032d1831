#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "knowledge/vault.hpp"
#include "knowledge/vault_index.hpp"
#include "ledger/sqlite.hpp"
#include "unit/fleet/support.hpp"

namespace {

namespace fs = std::filesystem;
using knowledge::json;
using testing_support::EnvVar;
using testing_support::run_sync;
using testing_support::ScratchDir;

void write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

toolport::ToolOutput call(const toolport::Tool& tool, json args) { return run_sync((*tool.handler)(std::move(args))); }

// A home with a vault of a few notes and its real FTS5 index, and the
// environment pointing at both.
class KnowledgeVault : public ::testing::Test {
protected:
    KnowledgeVault()
        : home_("HOME", (scratch_.path() / "home").string()),
          fleet_home_("WENDLE_HOME", (scratch_.path() / "home" / ".wendle").string()),
          vault_env_("WENDLE_VAULT", std::nullopt) {
        write(vault() / "Wiki/Concepts/fts.md",
              "# Full Text Search\n\nSQLite FTS5 gives ranked prefix search over every note in the vault, "
              "with short snippets cut from the body.\n");
        write(vault() / "Wiki/Concepts/x.md", "# X\n\nThe concept x, linked from the daily notes.\n");
        write(vault() / "Daily/2026-01-05.md", "Standup: shipped foo-bar, planned x+y for the ledger.\n");
        write(vault() / "Inbox.md", "Loose thoughts about gardening.\n");
        write(vault() / ".obsidian/workspace.md", "gardening settings\n");
        for (int i = 0; i < 12; ++i) {
            write(vault() / "Bulk" / ("note" + std::to_string(i) + ".md"), "# Bulk " + std::to_string(i) +
                                                                              "\ncommon payload word\n");
        }
        fs::create_directories(index().parent_path());
        const auto built = knowledge::build_vault_index(vault(), index().string());
        EXPECT_TRUE(built.has_value()) << built.error();
        EXPECT_EQ(built.value_or(0), 16u);
    }

    fs::path home() const { return scratch_.path() / "home"; }
    fs::path vault() const { return home() / ".wendle" / "vault"; }
    fs::path index() const { return home() / ".claude/velmora-cache/vault-index.db"; }

    void exec(const std::string& sql) {
        auto db = sqlite::Connection::open(index().string(), sqlite::read_write);
        ASSERT_TRUE(db.has_value());
        ASSERT_TRUE(db->exec(sql).has_value()) << sql;
    }

    std::vector<std::string> hit_paths(const std::string& query, std::int64_t limit = 50) {
        std::vector<std::string> paths;
        const auto hits = knowledge::vault_search(query, limit);
        EXPECT_TRUE(hits.has_value()) << query << ": " << hits.error();
        if (hits) {
            for (const json& hit : *hits) paths.push_back(hit.at("path"));
        }
        std::sort(paths.begin(), paths.end());
        return paths;
    }

    ScratchDir scratch_;
    EnvVar home_, fleet_home_, vault_env_;
};

TEST_F(KnowledgeVault, HitCarriesPathTitleFolderAndPlainSnippet) {
    const auto out = call(knowledge::tool_vault_search(), {{"query", "prefix search"}});
    ASSERT_FALSE(out.is_error) << out.text;
    const json hits = json::parse(out.text);
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].at("path"), "Wiki/Concepts/fts.md");
    EXPECT_EQ(hits[0].at("title"), "Full Text Search");
    EXPECT_EQ(hits[0].at("folder"), "Wiki/Concepts");
    const std::string snippet = hits[0].at("snippet");
    EXPECT_NE(snippet.find("prefix search"), std::string::npos) << snippet;
    EXPECT_EQ(snippet.find('['), std::string::npos);
    EXPECT_TRUE(snippet.ends_with(" … ")) << snippet;  // cut at 12 tokens
    // Compact, keys in byte order.
    EXPECT_TRUE(out.text.starts_with(R"([{"folder":"Wiki/Concepts","path":"Wiki/Concepts/fts.md","snippet":")"))
        << out.text;

    // The hit's path reads back through vault_read.
    const auto note = knowledge::vault_read(hits[0].at("path").get<std::string>());
    ASSERT_TRUE(note.has_value()) << note.error();
    EXPECT_TRUE(note->starts_with("# Full Text Search\n"));
}

TEST_F(KnowledgeVault, WordsArePrefixesAndAllRequired) {
    EXPECT_EQ(hit_paths("rank snipp"), std::vector<std::string>{"Wiki/Concepts/fts.md"});
    EXPECT_EQ(hit_paths("x+y foo-bar"), std::vector<std::string>{"Daily/2026-01-05.md"});
    EXPECT_EQ(hit_paths("foo-bar gardening"), std::vector<std::string>{});
    // Hidden folders are not indexed by the builder.
    EXPECT_EQ(hit_paths("gardening"), std::vector<std::string>{"Inbox.md"});
    // Words match titles as well as bodies.
    EXPECT_EQ(hit_paths("Bulk 7"), std::vector<std::string>{"Bulk/note7.md"});
}

TEST_F(KnowledgeVault, OperatorSyntaxHasNoMeaning) {
    struct Case {
        const char* query;
        std::vector<std::string> paths;
    };
    const Case cases[] = {
        {R"("unbalanced)", {}},
        {R"("ledger)", {"Daily/2026-01-05.md"}},
        {"ledger OR gardening", {}},  // OR is one more required word
        {"NEAR(standup ledger)", {}},
        {"standup ledger", {"Daily/2026-01-05.md"}},
        {"body:gardening", {}},  // no note holds the word "body"
        {"title:gardening", {}},
        {"-gardening", {"Inbox.md"}},
        {"^gardening*", {"Inbox.md"}},
        {"vault_fts) OR (1", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query);
        EXPECT_EQ(hit_paths(c.query), c.paths);
    }
}

TEST_F(KnowledgeVault, LimitRules) {
    struct Case {
        const char* name;
        json limit;
        std::size_t hits;
    };
    const Case cases[] = {
        {"absent", nullptr, 10}, {"zero", 0, 10},     {"negative", -3, 10},  {"float", 2.5, 10},
        {"string", "5", 10},     {"three", 3, 3},     {"large", 1000, 12},   {"beyond int64", 18446744073709551615u, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        json args = {{"query", "common payload"}};
        if (!c.limit.is_null()) args["limit"] = c.limit;
        const auto out = call(knowledge::tool_vault_search(), args);
        ASSERT_FALSE(out.is_error) << out.text;
        EXPECT_EQ(json::parse(out.text).size(), c.hits);
    }
}

TEST_F(KnowledgeVault, RowsWithNonTextColumnsAreLeftOut) {
    exec("UPDATE vault_notes SET title = NULL WHERE path = 'Bulk/note1.md';"
         "UPDATE vault_notes SET folder = x'41' WHERE path = 'Bulk/note2.md';"
         "UPDATE vault_notes SET title = CAST(x'41ff' AS TEXT) WHERE path = 'Bulk/note3.md';");
    const auto paths = hit_paths("common payload");
    EXPECT_EQ(paths.size(), 9u);  // twelve notes match, three are left out
    for (const char* left_out : {"Bulk/note1.md", "Bulk/note2.md", "Bulk/note3.md"}) {
        EXPECT_EQ(std::count(paths.begin(), paths.end(), left_out), 0) << left_out;
    }
}

TEST_F(KnowledgeVault, QueryArgumentIsRequired) {
    for (const json& args : {json::object(), json{{"query", "   "}}, json{{"query", 7}}, json(nullptr),
                             json::array({"query"})}) {
        SCOPED_TRACE(args.dump());
        EXPECT_EQ(call(knowledge::tool_vault_search(), args), toolport::ToolOutput::failure("query is required"));
    }
}

TEST_F(KnowledgeVault, WordlessQueryNeverOpensTheIndex) {
    fs::remove_all(home() / ".claude");
    // A query with words needs the index, whose folder is gone...
    const auto words = call(knowledge::tool_vault_search(), {{"query", "ledger"}});
    EXPECT_TRUE(words.is_error);
    EXPECT_EQ(words.text, "unable to open database file");
    // ...while punctuation alone answers at once.
    EXPECT_EQ(call(knowledge::tool_vault_search(), {{"query", " -- ** ?! "}}), toolport::ToolOutput::success("[]"));
    EXPECT_FALSE(fs::exists(home() / ".claude"));
}

TEST_F(KnowledgeVault, MissingIndexFileIsCreatedEmptyAndReportsTheMissingTable) {
    fs::remove(index());
    EXPECT_EQ(call(knowledge::tool_vault_search(), {{"query", "ledger"}}),
              toolport::ToolOutput::failure("no such table: vault_fts"));
    EXPECT_TRUE(fs::exists(index()));
}

TEST_F(KnowledgeVault, ReadIsConfinedToTheVault) {
    const fs::path outside = scratch_.path() / "outside";
    write(outside / "secret.md", "outside the vault\n");
    fs::create_symlink(outside / "secret.md", vault() / "link-out.md");
    fs::create_symlink(outside, vault() / "dir-out");
    fs::create_symlink(vault() / "Wiki/Concepts/x.md", vault() / "link-in.md");
    write(vault() / "binary.md", std::string("PNG\x89\xFF\xFE", 6));
    ASSERT_EQ(::mkfifo((vault() / "pipe.md").c_str(), 0600), 0);
    const std::string x = "# X\n\nThe concept x, linked from the daily notes.\n";

    struct Case {
        std::string path;
        std::string text;
        bool is_error;
    };
    const Case cases[] = {
        {"Wiki/Concepts/x.md", x, false},
        {"  Wiki/Concepts/x.md \n", x, false},
        {"./Wiki/./Concepts/x.md", x, false},
        {"link-in.md", x, false},
        {"", "path is required", true},
        {" \t ", "path is required", true},
        {"Wiki/../Wiki/Concepts/x.md", "path 'Wiki/../Wiki/Concepts/x.md' escapes the vault", true},
        {" ../outside/secret.md ", "path '../outside/secret.md' escapes the vault", true},
        {"/etc/passwd", "path '/etc/passwd' escapes the vault", true},
        {"Wiki/missing.md", "no vault note at 'Wiki/missing.md'", true},
        {std::string("Wiki/Concepts/x.md\0.txt", 23), std::string("no vault note at 'Wiki/Concepts/x.md\0.txt'", 42), true},
        {"Wiki", "'Wiki' is not a file", true},
        {"Wiki/Concepts/", "'Wiki/Concepts/' is not a file", true},
        {"link-out.md", "path 'link-out.md' escapes the vault", true},
        {"dir-out/secret.md", "path 'dir-out/secret.md' escapes the vault", true},
        {"pipe.md", "'pipe.md' is not a file", true},
        {"binary.md", "read 'binary.md': stream did not contain valid UTF-8", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const auto out = call(knowledge::tool_vault_read(), {{"path", c.path}});
        EXPECT_EQ(out.text, c.text);
        EXPECT_EQ(out.is_error, c.is_error);
    }
    EXPECT_EQ(call(knowledge::tool_vault_read(), {{"path", 3}}), toolport::ToolOutput::failure("path is required"));
}

TEST_F(KnowledgeVault, VaultRootFromEnvironment) {
    // WENDLE_VAULT wins and is canonicalised, so a linked root works.
    const fs::path other = scratch_.path() / "other-vault";
    write(other / "only-here.md", "here\n");
    fs::create_symlink(other, scratch_.path() / "vault-link");
    {
        EnvVar vault("WENDLE_VAULT", (scratch_.path() / "vault-link").string());
        EXPECT_EQ(knowledge::vault_read("only-here.md"), "here\n");
        EXPECT_EQ(knowledge::vault_read("Inbox.md"), std::unexpected(std::string("no vault note at 'Inbox.md'")));
    }
    {
        EnvVar vault("WENDLE_VAULT", "");  // empty: the fleet home's vault
        EXPECT_EQ(knowledge::vault_read("Inbox.md"), "Loose thoughts about gardening.\n");
    }
    {
        EnvVar vault("WENDLE_VAULT", (scratch_.path() / "nowhere").string());
        EXPECT_EQ(knowledge::vault_read("Inbox.md"),
                  std::unexpected(std::string("vault root unavailable: No such file or directory")));
    }
}

}  // namespace
