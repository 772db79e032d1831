#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "knowledge/repo.hpp"
#include "unit/fleet/support.hpp"

namespace {

namespace fs = std::filesystem;
using toolport::json;
using testing_support::ScratchDir;

void write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

std::string join(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) text += (text.empty() ? "" : "\n") + line;
    return text;
}

// A real repository: hidden files and folders, build noise, a link out of
// the repository, a link back to itself, a pair of 600 KB files (each over
// the per-file cap), five 250 KB files (together over the batch cap), a
// binary file and secrets.
class KnowledgeRepo : public ::testing::Test {
protected:
    KnowledgeRepo() {
        write(repo() / "README.md", "# demo\n");
        write(repo() / ".env", "TOKEN=hunter2\n");
        write(repo() / ".gitignore", "build/\n");
        write(repo() / ".github/workflows/ci.yml", "on: push\n");
        write(repo() / ".git/HEAD", "ref: refs/heads/main\n");
        for (const char* noise : {"node_modules/left-pad/index.js", "target/debug/app", "build/out.o",
                                  "dist/bundle.js", "__pycache__/m.pyc", "vendor/lib.go", "DerivedData/x"}) {
            write(repo() / noise, "noise\n");
        }
        write(repo() / "Makefile", "all:\n");
        write(repo() / "src/main.cpp", "int main() {}\n");
        write(repo() / "src/lib/util.cpp", "// util\n");
        write(repo() / "src/lib/deep/er/leaf.txt", "leaf\n");
        write(repo() / "src/build", "a file named like a skipped folder\n");
        write(repo() / "src/.hidden", "hidden file\n");
        write(repo() / "data/big1.txt", std::string(600 * 1024, 'a'));
        write(repo() / "data/big2.txt", std::string(600 * 1024, 'b'));
        for (char part = '1'; part <= '5'; ++part) {
            write(repo() / "parts" / (std::string("part") + part + ".txt"), std::string(250 * 1024, part));
        }
        write(repo() / "small.txt", "small\n");
        write(repo() / "image.bin", std::string("\x89PNG\r\n\x1a\n\x00\xff", 10));
        write(repo() / "keys/server.PEM", "-----BEGIN-----\n");
        write(outside() / "stolen.txt", "outside the repository\n");
        fs::create_symlink(outside(), repo() / "linked");
        fs::create_symlink(outside() / "stolen.txt", repo() / "stolen.txt");
        fs::create_symlink(".", repo() / "src/loop");
    }

    fs::path repo() const { return scratch_.path() / "repo"; }
    fs::path outside() const { return scratch_.path() / "outside"; }

    std::vector<std::string> walk(std::int64_t depth, std::size_t limit) const {
        std::vector<std::string> entries;
        knowledge::walk_tree(repo(), repo(), depth, entries, limit);
        return entries;
    }

    ScratchDir scratch_;
};

TEST_F(KnowledgeRepo, TopLevelSkipsNoiseAndHiddenFoldersButListsHiddenFiles) {
    EXPECT_EQ(walk(1, 4000), (std::vector<std::string>{".env", ".gitignore", "Makefile", "README.md", "data/",
                                                        "image.bin", "keys/", "linked/", "parts/", "small.txt",
                                                        "src/", "stolen.txt"}));
}

TEST_F(KnowledgeRepo, PreOrderByteOrderFollowingLinksUntilTheDepthEnds) {
    EXPECT_EQ(walk(3, 4000), (std::vector<std::string>{
                                 ".env", ".gitignore", "Makefile", "README.md", "data/", "data/big1.txt",
                                 "data/big2.txt", "image.bin", "keys/", "keys/server.PEM", "linked/",
                                 "linked/stolen.txt", "parts/", "parts/part1.txt", "parts/part2.txt",
                                 "parts/part3.txt", "parts/part4.txt", "parts/part5.txt", "small.txt", "src/", "src/.hidden", "src/build", "src/lib/",
                                 "src/lib/deep/", "src/lib/util.cpp", "src/loop/", "src/loop/.hidden",
                                 "src/loop/build", "src/loop/lib/", "src/loop/loop/", "src/loop/main.cpp",
                                 "src/main.cpp", "stolen.txt"}));
}

TEST_F(KnowledgeRepo, EntryLimitStopsTheWalk) {
    const auto all = walk(12, 100000);
    ASSERT_GT(all.size(), 40u);  // the loop link is walked down to the depth limit
    for (std::size_t limit : {std::size_t{1}, std::size_t{10}, std::size_t{15}, all.size()}) {
        SCOPED_TRACE(limit);
        const auto some = walk(12, limit);
        EXPECT_EQ(some, std::vector<std::string>(all.begin(), all.begin() + limit));
    }
}

TEST_F(KnowledgeRepo, TreeTextHeaderAndTruncationLine) {
    const std::string root = repo().string();
    const std::vector<std::string> top{".env",   ".gitignore", "Makefile",  "README.md", "data/", "image.bin",
                                       "keys/",  "linked/",    "parts/",    "small.txt", "src/",  "stolen.txt"};
    EXPECT_EQ(knowledge::tree_text(root, 1, 500), root + " (12 entries)\n" + join(top));
    // Exactly max_entries entries present: the line is still written.
    EXPECT_EQ(knowledge::tree_text(root, 1, 12),
              root + " (12 entries)\n" + join(top) + "\n… truncated — raise max_entries or narrow depth");
    EXPECT_EQ(knowledge::tree_text(root, 1, 10),
              root + " (10 entries)\n" + join({top.begin(), top.begin() + 10}) +
                  "\n… truncated — raise max_entries or narrow depth");
    // An empty repository and one that cannot be listed both give no entries.
    fs::create_directory(scratch_.path() / "empty");
    const std::string empty = (scratch_.path() / "empty").string();
    EXPECT_EQ(knowledge::tree_text(empty, 4, 500), empty + " (0 entries)\n");
    const std::string gone = (scratch_.path() / "gone").string();
    EXPECT_EQ(knowledge::tree_text(gone, 4, 500), gone + " (0 entries)\n");
}

TEST_F(KnowledgeRepo, UnlistableFolderAndOddNames) {
    write(repo() / "src/lib/deep/bad\xff" "name.txt", "x");
    const auto entries = walk(4, 4000);
    EXPECT_NE(std::find(entries.begin(), entries.end(), "src/lib/deep/bad\xEF\xBF\xBDname.txt"), entries.end());
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
    fs::permissions(repo() / "src/lib", fs::perms::none);
    const auto closed = walk(4, 4000);
    fs::permissions(repo() / "src/lib", fs::perms::owner_all);
    EXPECT_NE(std::find(closed.begin(), closed.end(), "src/lib/"), closed.end());
    EXPECT_EQ(std::find(closed.begin(), closed.end(), "src/lib/util.cpp"), closed.end());
    EXPECT_NE(std::find(closed.begin(), closed.end(), "src/main.cpp"), closed.end());
}

TEST(KnowledgeRepoArgs, TreeLimitsDefaultThenClamp) {
    struct Case {
        const char* name;
        json args;
        std::int64_t depth, max_entries;
    };
    const Case cases[] = {
        {"absent", json::object(), 4, 500},
        {"not an object", json(nullptr), 4, 500},
        {"in range", {{"depth", 7}, {"max_entries", 1234}}, 7, 1234},
        {"below", {{"depth", 0}, {"max_entries", 3}}, 1, 10},
        {"negative", {{"depth", -5}, {"max_entries", -1}}, 1, 10},
        {"above", {{"depth", 99}, {"max_entries", 100000}}, 12, 4000},
        {"strings", {{"depth", "3"}, {"max_entries", "20"}}, 4, 500},
        {"floats", {{"depth", 2.0}, {"max_entries", 20.5}}, 4, 500},
        {"too large", {{"depth", 18446744073709551615u}, {"max_entries", 9223372036854775808u}}, 4, 500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto limits = knowledge::tree_limits(c.args);
        EXPECT_EQ(limits.depth, c.depth);
        EXPECT_EQ(limits.max_entries, c.max_entries);
    }
}

TEST(KnowledgeRepoArgs, BatchPathsKeepStringsInOrderUnchanged) {
    EXPECT_EQ(knowledge::batch_paths({{"paths", {" a ", 1, "", nullptr, "b/c", json::array({"d"})}}}),
              (std::vector<std::string>{" a ", "", "b/c"}));
    EXPECT_TRUE(knowledge::batch_paths({{"paths", "README.md"}}).empty());
    EXPECT_TRUE(knowledge::batch_paths(json::array({"paths"})).empty());
}

TEST_F(KnowledgeRepo, FilePathChecksInOrder) {
    struct Case {
        std::string path;
        std::string error;  // empty: resolves
    };
    const Case cases[] = {
        {"README.md", ""},
        {"  src/lib/util.cpp\t", ""},
        {"./src/./main.cpp", ""},
        {"src/loop/main.cpp", ""},
        {"", "path '' escapes the project"},
        {"   ", "path '' escapes the project"},
        {"/etc/passwd", "path '/etc/passwd' escapes the project"},
        {"src/../README.md", "path 'src/../README.md' escapes the project"},
        {"../outside/stolen.txt", "path '../outside/stolen.txt' escapes the project"},
        {"../.env", "path '../.env' escapes the project"},  // escape is judged before the name
        {".env", "'.env' is a secret-class file and is never served"},
        {"src/.env.local", "'src/.env.local' is a secret-class file and is never served"},
        {"missing/.envrc", "'missing/.envrc' is a secret-class file and is never served"},
        {"keys/server.PEM", "'keys/server.PEM' is a secret-class file and is never served"},
        {"home/id_rsa.pub", "'home/id_rsa.pub' is a secret-class file and is never served"},
        {".env/.", "'.env/.' is a secret-class file and is never served"},
        {"missing.txt", "no file at 'missing.txt'"},
        {std::string("README.md\0.txt", 14), std::string("no file at 'README.md\0.txt'", 27)},
        {"stolen.txt", "path 'stolen.txt' escapes the project"},
        {"linked/stolen.txt", "path 'linked/stolen.txt' escapes the project"},
        {"src", "'src' is not a file"},
        {"src/lib/", "'src/lib/' is not a file"},
        {".", "'.' is not a file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const auto resolved = knowledge::repo_file_path(repo(), c.path);
        if (c.error.empty()) {
            ASSERT_TRUE(resolved.has_value()) << resolved.error();
            EXPECT_TRUE(resolved->is_absolute());
            EXPECT_TRUE(fs::is_regular_file(*resolved));
        } else {
            EXPECT_EQ(resolved, std::unexpected(c.error));
        }
    }
    // A link inside the repository is judged by the file it names too.
    fs::create_symlink(".env", repo() / "innocent.txt");
    EXPECT_EQ(knowledge::repo_file_path(repo(), "innocent.txt"),
              std::unexpected(std::string("'innocent.txt' is a secret-class file and is never served")));
    fs::remove(repo() / "innocent.txt");
    EXPECT_EQ(knowledge::repo_file_path(scratch_.path() / "gone", "README.md"),
              std::unexpected(std::string("project root unavailable: No such file or directory")));
}

TEST_F(KnowledgeRepo, BatchReportsEachFileInlineAndHonoursTheCaps) {
    const std::vector<std::string> paths{
        "README.md",       " README.md ",     "../x",            ".env",            "",
        "src",             "image.bin",       "data/big1.txt",   "data/big2.txt",   "parts/part1.txt",
        "parts/part2.txt", "parts/part3.txt", "parts/part4.txt", "parts/part5.txt", "small.txt",
        "stolen.txt",      "src/main.cpp",
    };
    std::string expected =
        "==== README.md (7 bytes) ====\n# demo\n\n"
        "====  README.md  (7 bytes) ====\n# demo\n\n"
        "==== ../x ====\n[error: path '../x' escapes the project]\n"
        "==== .env ====\n[error: '.env' is a secret-class file and is never served]\n"
        "====  ====\n[error: path '' escapes the project]\n"
        "==== src ====\n[error: 'src' is not a file]\n"
        "==== image.bin ====\n[skipped: binary]\n"
        "==== data/big1.txt ====\n[skipped: 614400 bytes exceeds the 256KB per-file cap]\n"
        "==== data/big2.txt ====\n[skipped: 614400 bytes exceeds the 256KB per-file cap]\n";
    // 14 + 4 * 256000 bytes stay within the batch cap; the fifth part passes
    // it, and every later text file is skipped too.
    for (char part = '1'; part <= '4'; ++part) {
        expected += std::string("==== parts/part") + part + ".txt (256000 bytes) ====\n" +
                    std::string(250 * 1024, part) + "\n";
    }
    expected +=
        "==== parts/part5.txt ====\n[skipped: batch 1024KB cap reached]\n"
        "==== small.txt ====\n[skipped: batch 1024KB cap reached]\n"
        "==== stolen.txt ====\n[error: path 'stolen.txt' escapes the project]\n"
        "==== src/main.cpp ====\n[skipped: batch 1024KB cap reached]\n";
    EXPECT_EQ(knowledge::files_text(repo(), paths), expected);
}

TEST_F(KnowledgeRepo, BatchReportsUnreadableFilesAndSpecialFiles) {
    ASSERT_EQ(::mkfifo((repo() / "pipe").c_str(), 0600), 0);
    EXPECT_EQ(knowledge::files_text(repo(), {"pipe", "README.md"}),
              "==== pipe ====\n[error: 'pipe' is not a file]\n"
              "==== README.md (7 bytes) ====\n# demo\n\n");
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
    fs::permissions(repo() / "small.txt", fs::perms::none);
    EXPECT_EQ(knowledge::files_text(repo(), {"small.txt"}), "==== small.txt ====\n[error: Permission denied]\n");
}

}  // namespace
