// The vault and repository tools through the real binary: a vault with its
// FTS5 index under the test home, and a repository that the ledger's
// sessions table names.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "e2e/fixture.hpp"
#include "knowledge/vault_index.hpp"
#include "ledger/companion_schema.hpp"
#include "ledger/sqlite.hpp"

using e2e::json;
namespace fs = std::filesystem;

namespace {

void write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// Project paths under /tmp count as ephemeral and never reach the project
// list (nor does a build tree cloned there), so the repository lives under
// /var/tmp instead.
fs::path make_repo_parent() {
    std::string pattern = "/var/tmp/velmora-knowledge-e2e-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    return pattern;
}

class Knowledge : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        parent_ = new fs::path(make_repo_parent());
        server_ = new e2e::Server();
        const fs::path repo = *parent_ / "velmora-demo-repo";
        write(repo / "README.md", "# demo\n");
        write(repo / ".env", "TOKEN=1\n");
        write(repo / ".git/HEAD", "ref\n");
        write(repo / "node_modules/x/index.js", "x\n");
        write(repo / "src/main.cpp", "int main() {}\n");
        for (int i = 0; i < 12; ++i) write(repo / "many" / ("f" + std::to_string(i)), "");
        write(*parent_ / "outside.txt", "outside\n");
        fs::create_symlink(*parent_ / "outside.txt", repo / "out.txt");

        const std::string ledger = (server_->fleet_home() / "ledger.db").string();
        ASSERT_TRUE(ledger::create_companion_ledger(ledger).has_value());
        auto db = sqlite::Connection::open(ledger, sqlite::read_write);
        ASSERT_TRUE(db.has_value());
        auto insert = db->prepare(
            "INSERT INTO sessions (id, project_key, project_name, last_updated_at) VALUES ('s1', ?1, 'Demo', 5)");
        ASSERT_TRUE(insert.has_value());
        ASSERT_TRUE(insert->bind_text(1, repo.string()).has_value());
        ASSERT_TRUE(insert->run().has_value());

        const fs::path vault = server_->fleet_home() / "vault";
        write(vault / "Wiki/Concepts/x.md", "# Concept X\n\nThe ledger federates claims between nodes.\n");
        write(vault / "Inbox.md", "# Inbox\n\nBuy seeds.\n");
        const fs::path index = server_->home() / ".claude/velmora-cache/vault-index.db";
        fs::create_directories(index.parent_path());
        ASSERT_TRUE(knowledge::build_vault_index(vault, index.string()).has_value());
    }
    static void TearDownTestSuite() {
        delete server_;
        std::error_code ignored;
        fs::remove_all(*parent_, ignored);
        delete parent_;
    }
    static e2e::Server& server() { return *server_; }
    static fs::path repo() { return fs::canonical(*parent_ / "velmora-demo-repo"); }

private:
    static inline e2e::Server* server_ = nullptr;
    static inline fs::path* parent_ = nullptr;
};

}  // namespace

TEST_F(Knowledge, ToolsAreListedWithTheirSchemas) {
    const json tools = server().rpc("tools/list").at("result").at("tools");
    std::vector<std::string> names;
    std::map<std::string, json> schemas;
    for (const json& tool : tools) {
        names.push_back(tool.at("name"));
        schemas[tool.at("name")] = tool.at("inputSchema");
    }
    const auto at = [&](const char* name) { return std::find(names.begin(), names.end(), name) - names.begin(); };
    ASSERT_LT(at("project_files"), static_cast<long>(names.size()));
    EXPECT_LT(at("vault_search"), at("vault_read"));
    EXPECT_LT(at("vault_read"), at("project_tree"));
    EXPECT_LT(at("project_tree"), at("project_files"));
    EXPECT_EQ(schemas["vault_search"].dump(),
              R"j({"properties":{"limit":{"description":"max hits (default 10)","type":"integer"},)j"
              R"("query":{"type":"string"}},"required":["query"],"type":"object"})");
    EXPECT_EQ(schemas["project_tree"].dump(),
              R"({"properties":{"depth":{"maximum":12,"minimum":1,"type":"integer"},)"
              R"("max_entries":{"maximum":4000,"minimum":10,"type":"integer"},"project":{"type":"string"}},)"
              R"("required":["project"],"type":"object"})");
    EXPECT_EQ(schemas["project_files"].dump(),
              R"({"properties":{"paths":{"items":{"type":"string"},"maxItems":20,"minItems":1,"type":"array"},)"
              R"("project":{"type":"string"}},"required":["project","paths"],"type":"object"})");
}

TEST_F(Knowledge, VaultSearchThenRead) {
    const auto found = server().call("vault_search", {{"query", "federate-claims"}});
    ASSERT_FALSE(found.is_error) << found.text;
    EXPECT_EQ(found.text, R"([{"folder":"Wiki/Concepts","path":"Wiki/Concepts/x.md",)"
                          R"("snippet":"# Concept X\n\nThe ledger federates claims between nodes.\n","title":"Concept X"}])");
    const auto note = server().call("vault_read", {{"path", " Wiki/Concepts/x.md "}});
    EXPECT_FALSE(note.is_error);
    EXPECT_EQ(note.text, "# Concept X\n\nThe ledger federates claims between nodes.\n");

    EXPECT_EQ(server().call("vault_search", {{"query", "\"*:()"}}).text, "[]");
    const auto escape = server().call("vault_read", {{"path", "../ledger.db"}});
    EXPECT_TRUE(escape.is_error);
    EXPECT_EQ(escape.text, "path '../ledger.db' escapes the vault");
    const auto missing = server().call("vault_search", {{"limit", 3}});
    EXPECT_TRUE(missing.is_error);
    EXPECT_EQ(missing.text, "query is required");
}

TEST_F(Knowledge, ProjectTreeByNameAndByKey) {
    const std::string root = repo().string();
    const auto tree = server().call("project_tree", {{"project", "velmora-demo-repo"}, {"depth", 1}});
    ASSERT_FALSE(tree.is_error) << tree.text;
    EXPECT_EQ(tree.text, root + " (5 entries)\n.env\nREADME.md\nmany/\nout.txt\nsrc/");
    const auto limited = server().call("project_tree", {{"project", root}, {"max_entries", 1}});
    ASSERT_FALSE(limited.is_error) << limited.text;
    EXPECT_EQ(limited.text, root + " (10 entries)\n.env\nREADME.md\nmany/\nmany/f0\nmany/f1\nmany/f10\nmany/f11\n"
                                   "many/f2\nmany/f3\nmany/f4\n… truncated — raise max_entries or narrow depth");
}

TEST_F(Knowledge, ProjectFilesBatch) {
    const auto batch = server().call(
        "project_files", {{"project", "velmora-demo-repo"}, {"paths", {"README.md", ".env", "out.txt", "src/main.cpp"}}});
    EXPECT_FALSE(batch.is_error);
    EXPECT_EQ(batch.text,
              "==== README.md (7 bytes) ====\n# demo\n\n"
              "==== .env ====\n[error: '.env' is a secret-class file and is never served]\n"
              "==== out.txt ====\n[error: path 'out.txt' escapes the project]\n"
              "==== src/main.cpp (14 bytes) ====\nint main() {}\n\n");
}

TEST_F(Knowledge, WholeCallFailures) {
    struct Case {
        const char* tool;
        json args;
        std::string text;
    };
    const json twenty_one = json(std::vector<std::string>(21, "README.md"));
    const Case cases[] = {
        {"project_tree", json::object(), "project is required"},
        {"project_tree", {{"project", " "}}, "project is required"},
        {"project_tree", {{"project", "nope"}},
         "no project named 'nope' with a resolvable path — see project_list"},
        {"project_files", {{"project", "velmora-demo-repo"}}, "project and 1..=20 paths are required"},
        {"project_files", {{"project", "velmora-demo-repo"}, {"paths", json::array()}},
         "project and 1..=20 paths are required"},
        {"project_files", {{"project", "velmora-demo-repo"}, {"paths", json::array({1, 2})}},
         "project and 1..=20 paths are required"},
        {"project_files", {{"project", "velmora-demo-repo"}, {"paths", twenty_one}},
         "project and 1..=20 paths are required"},
        {"project_files", {{"project", ""}, {"paths", {"README.md"}}}, "project and 1..=20 paths are required"},
        {"project_files", {{"project", "nope"}, {"paths", {"README.md"}}},
         "no project named 'nope' with a resolvable path — see project_list"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.tool) + " " + c.args.dump());
        const auto out = server().call(c.tool, c.args);
        EXPECT_TRUE(out.is_error);
        EXPECT_EQ(out.text, c.text);
    }
}
