// fs_read and fs_list through the real binary, on real files, folders and links.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <future>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/fixture.hpp"

namespace {

using e2e::json;
namespace fs = std::filesystem;

const std::string trail_tail = " — no path is served while the trail is broken";

void write_file(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The shape of every audit line: compact, members in key order.
const std::regex audit_shape(
    R"re(^\{"allowed":(true|false),"bytes":[0-9]+,"path":".*","reason":"[a-z_]+","resolved":".*","tool":"fs_(read|list)","ts":"[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}Z"\}$)re");

class FsAccess : public ::testing::Test {
protected:
    explicit FsAccess(e2e::Server::Options options = {}) : server_(std::move(options)) {}

    fs::path root() const { return server_.root(); }
    fs::path allowlist() const { return server_.fleet_home() / "config" / "fs-allow.json"; }
    fs::path audit_log() const { return server_.fleet_home() / "var" / "fs-audit.log"; }

    void declare(const json& document) { write_file(allowlist(), document.dump()); }

    e2e::CallResult read(const std::string& path, json extra = json::object()) const {
        extra["path"] = path;
        return server_.call("fs_read", extra);
    }
    e2e::CallResult list(const std::string& path, json extra = json::object()) const {
        extra["path"] = path;
        return server_.call("fs_list", extra);
    }

    std::vector<std::string> audit_lines() const { return lines_of(read_file(audit_log())); }
    json last_audit() const {
        const auto lines = audit_lines();
        if (lines.empty()) return nullptr;
        return json::parse(lines.back());
    }

    e2e::Server server_;
};

// ---------------------------------------------------------------- nothing declared

TEST_F(FsAccess, WithNothingDeclaredEveryPathIsRefused) {
    const std::string refusal = "no_allowlist: no filesystem roots are declared, so nothing is served. The operator "
                                "declares them as a JSON array of absolute paths in " +
                                allowlist().string() + " — until then every path is refused.";
    for (const std::string path : {"/etc/hosts", "relative/path", "~someone/x"}) {
        SCOPED_TRACE(path);
        auto result = read(path);
        EXPECT_TRUE(result.is_error);
        EXPECT_EQ(result.text, refusal);
    }
    // a file of white space declares nothing, silently
    write_file(allowlist(), " \n\t\n");
    EXPECT_EQ(list("/etc").text, refusal);
    // roots that do not exist vanish from the policy
    declare(json::array({(root() / "gone").string()}));
    EXPECT_EQ(read("/etc/hosts").text, refusal);
    // a blank or missing path is refused before anything else
    for (const json& arguments : {json{{"path", "   "}}, json::object(), json(nullptr), json{{"path", 42}}}) {
        SCOPED_TRACE(arguments.dump());
        auto result = server_.call("fs_read", arguments);
        EXPECT_TRUE(result.is_error);
        EXPECT_EQ(result.text, "bad_request: path is required");
    }
    EXPECT_EQ(server_.stderr_text().find("refusing every path"), std::string::npos);
}

TEST_F(FsAccess, AMalformedAllowlistIsReportedOnEveryCallAndServesNothing) {
    fs::create_directories(root() / "docs");
    write_file(root() / "docs" / "a.txt", "a");
    declare({{"allow", json::array({(root() / "docs").string()})}, {"comment", "mine"}});
    for (int i = 0; i < 2; ++i) {
        auto result = read((root() / "docs" / "a.txt").string());
        EXPECT_TRUE(result.is_error);
        EXPECT_TRUE(result.text.starts_with("no_allowlist: ")) << result.text;
    }
    const std::string line = "velmora-mcp: " + allowlist().string() +
                             " is unknown key 'comment' — the object form is {\"allow\":[…],\"deny\":[…]} — refusing "
                             "every path\n";
    const std::string err = server_.stderr_text();
    std::size_t count = 0;
    for (auto at = err.find(line); at != std::string::npos; at = err.find(line, at + 1)) ++count;
    EXPECT_EQ(count, 2u) << err;
}

// ---------------------------------------------------------------- the path law

class FsPathLaw : public FsAccess {
protected:
    void SetUp() override {
        const fs::path a = root() / "allowed";
        write_file(a / "notes.txt", "hello");
        write_file(a / "sub" / "inner.txt", "inner");
        write_file(a / "private" / "file.txt", "private");
        write_file(a / "Server.PEM", "pem");
        write_file(a / ".env.production", "KEY=1");
        write_file(a / "id_rsa.pub", "ssh-rsa");
        fs::create_directories(a / ".env");
        write_file(root() / "outside" / "secret.txt", "outside");
        write_file(root() / "allowedness" / "x.txt", "sibling");
        write_file(server_.home() / "docs" / "a.txt", "home doc");
        fs::create_symlink(root() / "outside" / "secret.txt", a / "link_out");
        fs::create_directory_symlink(root() / "outside", a / "dir_out");
        fs::create_symlink(a / "notes.txt", a / "link_in");
        write_file(a / "\xFFold.pem", "pem");
        fs::create_symlink(a / "\xFFold.pem", a / "key_link");
        fs::create_directory_symlink(a, root() / "alias");
        declare({{"allow", json::array({a.string(), "~/docs", (root() / "missing").string()})},
                 {"deny", json::array({(a / "private").string(), (a / "later").string(),
                                       (root() / "alias" / "later2").string()})}});
    }
};

struct LawCase {
    const char* tool;
    std::string path;       // relative to the test root unless it starts with / or ~
    std::string reason;     // "allowed" when served
    std::string resolved;   // relative to the test root; empty for none
    std::string message;    // the whole error text, when checked
};

TEST_F(FsPathLaw, JudgesTheFullyResolvedPath) {
    const std::string r = root().string() + "/";
    const LawCase cases[] = {
        {"fs_read", "allowed/notes.txt", "allowed", "allowed/notes.txt", ""},
        {"fs_read", "allowed/link_in", "allowed", "allowed/notes.txt", ""},
        {"fs_read", "allowed/./sub/../notes.txt", "allowed", "allowed/notes.txt", ""},
        {"fs_read", "alias/notes.txt", "allowed", "allowed/notes.txt", ""},
        {"fs_list", "allowed", "allowed", "allowed", ""},
        {"fs_read", "~/docs/a.txt", "allowed", "home/docs/a.txt", ""},
        // escapes by link and by ".."
        {"fs_read", "allowed/link_out", "outside_allowlist", "outside/secret.txt",
         "outside_allowlist: '" + r + "allowed/link_out' resolves outside every declared root. The check runs on the "
         "fully resolved path, so symlinks and '..' cannot reach out of a root."},
        {"fs_read", "allowed/dir_out/secret.txt", "outside_allowlist", "outside/secret.txt", ""},
        {"fs_list", "allowed/dir_out", "outside_allowlist", "outside", ""},
        {"fs_read", "allowed/../outside/secret.txt", "outside_allowlist", "outside/secret.txt", ""},
        {"fs_read", "allowed/sub/../../outside/secret.txt", "outside_allowlist", "outside/secret.txt", ""},
        {"fs_read", "allowedness/x.txt", "outside_allowlist", "allowedness/x.txt", ""},
        {"fs_list", "", "outside_allowlist", "", ""},  // the test root itself
        // deny wins inside an allowed root
        {"fs_read", "allowed/private/file.txt", "denylisted", "allowed/private/file.txt",
         "denylisted: '" + r + "allowed/private/file.txt' is inside a subtree the operator has explicitly denied, "
         "even though an allowed root contains it. Deny wins."},
        {"fs_list", "allowed/private", "denylisted", "allowed/private", ""},
        {"fs_read", "alias/private/file.txt", "denylisted", "allowed/private/file.txt", ""},
        // secret-class names, in either case, before the existence check
        {"fs_read", "allowed/Server.PEM", "secret_class", "",
         "secret_class: '" + r + "allowed/Server.PEM' is a secret-class file and is never served"},
        {"fs_read", "allowed/.env.production", "secret_class", "", ""},
        {"fs_read", "allowed/id_rsa.pub", "secret_class", "", ""},
        {"fs_list", "allowed/.env", "secret_class", "", ""},
        {"fs_read", "allowed/missing.key", "secret_class", "", ""},
        {"fs_read", "allowed/key_link", "secret_class", "", ""},  // a name that is not UTF-8 hides no key
        {"fs_read", "allowed/nothing.txt", "not_found", "", "not_found: nothing exists at '" + r + "allowed/nothing.txt'"},
        // the kind of the target
        {"fs_read", "allowed/sub", "not_a_file", "", "not_a_file: '" + r + "allowed/sub' is not a file — use fs_list"},
        {"fs_list", "allowed/notes.txt", "not_a_directory", "",
         "not_a_directory: '" + r + "allowed/notes.txt' is not a directory — use fs_read"},
        // the form of the path
        {"fs_read", "~someone/notes.txt", "bad_request", "",
         "bad_request: '~someone/notes.txt' must be an absolute path (or start with ~/)"},
        {"fs_read", " relative/notes.txt", "bad_request", "",
         "bad_request: ' relative/notes.txt' must be an absolute path (or start with ~/)"},
    };
    for (const auto& c : cases) {
        const std::string path = c.path.starts_with("~") || c.path.starts_with(" ") ? c.path : r + c.path;
        SCOPED_TRACE(std::string(c.tool) + " " + path);
        auto result = server_.call(c.tool, {{"path", path}});
        EXPECT_EQ(result.is_error, c.reason != "allowed") << result.text;
        if (c.reason != "allowed") {
            EXPECT_TRUE(result.text.starts_with(c.reason + ": ")) << result.text;
        }
        if (!c.message.empty()) {
            EXPECT_EQ(result.text, c.message);
        }
        const json record = last_audit();
        EXPECT_EQ(record["reason"], c.reason);
        EXPECT_EQ(record["allowed"], c.reason == "allowed");
        EXPECT_EQ(record["path"], path);
        EXPECT_EQ(record["tool"], c.tool);
        const std::string resolved =
            c.resolved.empty() && (c.reason == "outside_allowlist") ? root().string() : (c.resolved.empty() ? "" : r + c.resolved);
        EXPECT_EQ(record["resolved"], resolved);
    }
}

TEST_F(FsPathLaw, ADeniedFolderCreatedAfterThePolicyWasWrittenStaysDenied) {
    for (const std::string rel : {"allowed/later/x.txt", "allowed/later2/y.txt"}) {
        SCOPED_TRACE(rel);
        const fs::path path = root() / rel;
        EXPECT_TRUE(read(path.string()).text.starts_with("denylisted: "));
        write_file(path, "now it exists");
        auto result = read(path.string());
        EXPECT_TRUE(result.is_error);
        EXPECT_TRUE(result.text.starts_with("denylisted: ")) << result.text;
        EXPECT_EQ(last_audit()["resolved"], path.string());
        // reached through the alias link as well
        EXPECT_TRUE(read((root() / "alias" / fs::path(rel).lexically_relative("allowed")).string())
                        .text.starts_with("denylisted: "));
    }
}

TEST_F(FsPathLaw, ARootThatIsDeniedServesNothing) {
    declare({{"allow", json::array({(root() / "allowed").string()})},
             {"deny", json::array({(root() / "allowed").string()})}});
    EXPECT_TRUE(list((root() / "allowed").string()).text.starts_with("denylisted: "));
    EXPECT_TRUE(read((root() / "allowed" / "notes.txt").string()).text.starts_with("denylisted: "));
}

// ---------------------------------------------------------------- reading

class FsRead : public FsAccess {
protected:
    void SetUp() override {
        write_file(root() / "r" / "keep", "");
        declare(json::array({(root() / "r").string()}));
    }
    std::string file(const std::string& name, const std::string& bytes) {
        write_file(root() / "r" / name, bytes);
        return (root() / "r" / name).string();
    }
    static std::string header(const std::string& path, std::size_t size, std::size_t from, std::size_t to) {
        return "==== " + path + " (" + std::to_string(size) + " bytes total; served " + std::to_string(from) + ".." +
               std::to_string(to) + ") ====\n";
    }
};

TEST_F(FsRead, ServesUpToTheCapWholeAndRefusesOneByteMore) {
    const std::string exact(262144, 'a');
    const std::string over = std::string(262144, 'b') + "c";
    const auto exact_path = file("exact.txt", exact);
    const auto over_path = file("over.txt", over);

    auto whole = read(exact_path);
    EXPECT_FALSE(whole.is_error);
    EXPECT_EQ(whole.text, header(exact_path, 262144, 0, 262144) + exact);
    EXPECT_EQ(last_audit()["bytes"], 262144);

    auto refused = read(over_path);
    EXPECT_TRUE(refused.is_error);
    EXPECT_EQ(refused.text, "too_large: '" + over_path +
                                "' is 262145 bytes, over the 262144-byte per-read cap. Pass offset and/or limit to "
                                "read a window of it.");
    EXPECT_EQ(last_audit()["bytes"], 0);

    const std::string tail = "\n… 1 bytes remain — continue with offset 262144";
    struct WindowCase {
        json args;
        std::string text;
        std::uint64_t bytes;
    };
    const WindowCase cases[] = {
        {{{"limit", 262144}}, header(over_path, 262145, 0, 262144) + std::string(262144, 'b') + tail, 262144},
        {{{"limit", 1000000}}, header(over_path, 262145, 0, 262144) + std::string(262144, 'b') + tail, 262144},
        {{{"limit", 0}}, header(over_path, 262145, 0, 1) + "b\n… 262144 bytes remain — continue with offset 1", 1},
        {{{"offset", 262144}}, header(over_path, 262145, 262144, 262145) + "c", 1},
        {{{"offset", 262140}, {"limit", 3}},
         header(over_path, 262145, 262140, 262143) + "bbb\n… 2 bytes remain — continue with offset 262143", 3},
        {{{"offset", 300000}}, header(over_path, 262145, 300000, 300000), 0},
        // arguments of the wrong type or sign read as absent
        {{{"offset", -5}, {"limit", "10"}}, "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.dump());
        auto result = read(over_path, c.args);
        if (c.text.empty()) {
            EXPECT_TRUE(result.text.starts_with("too_large: ")) << result.text;
            continue;
        }
        EXPECT_FALSE(result.is_error);
        EXPECT_EQ(result.text, c.text);
        EXPECT_EQ(last_audit()["bytes"], c.bytes);
    }

    // An offset no file position can hold fails as a read error, not as an empty window.
    auto unreachable = read(over_path, {{"offset", 9223372036854775808ULL}});
    EXPECT_TRUE(unreachable.is_error);
    EXPECT_EQ(unreachable.text, "io_error: reading '" + over_path + "': " + std::strerror(EINVAL));
    EXPECT_EQ(last_audit()["reason"], "io_error");
}

TEST_F(FsRead, WindowsCutInsideCharactersAndRefuseBinary) {
    // "é" is C3 A9 at 1..2, "€" is E2 82 AC at 3..5, "😀" is F0 9F 98 80 at 6..9
    const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";
    const auto path = file("utf8.txt", text);
    const auto nul = file("nul.txt", std::string("text\0more", 9));
    const auto bad = file("bad.txt", "good\xFF" "good");
    struct Case {
        std::string path;
        json args;
        bool served;
        std::string body;  // after the header
        std::string range; // "from..to"
    };
    const Case cases[] = {
        {path, json::object(), true, text, "0..11"},
        {path, {{"offset", 2}, {"limit", 2}}, true, "", "2..4"},
        {path, {{"offset", 2}, {"limit", 4}}, true, "\xE2\x82\xAC", "2..6"},
        {path, {{"offset", 7}}, true, "z", "7..11"},
        {path, {{"offset", 1}, {"limit", 7}}, true, "\xC3\xA9\xE2\x82\xAC", "1..8"},
        {path, {{"offset", 4}, {"limit", 4}}, true, "", "4..8"},
        {nul, json::object(), false, "", ""},
        {nul, {{"limit", 4}}, true, "text", "0..4"},
        {bad, json::object(), false, "", ""},
        {bad, {{"offset", 5}}, true, "good", "5..9"},
        {bad, {{"limit", 4}}, true, "good", "0..4"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path + " " + c.args.dump());
        auto result = read(c.path, c.args);
        if (!c.served) {
            EXPECT_EQ(result.text, "binary_unsupported: '" + c.path + "' is not text; this surface serves text only");
            EXPECT_EQ(last_audit()["reason"], "binary_unsupported");
            continue;
        }
        ASSERT_FALSE(result.is_error) << result.text;
        const auto header_end = result.text.find(") ====\n");
        ASSERT_NE(header_end, std::string::npos);
        EXPECT_NE(result.text.find("; served " + c.range + ") ====\n"), std::string::npos) << result.text;
        std::string body = result.text.substr(header_end + 7);
        if (auto tail = body.find("\n… "); tail != std::string::npos) body.resize(tail);
        EXPECT_EQ(body, c.body);
    }
}

TEST_F(FsRead, PagingWithTheTailOffsetLosesNoCharacter) {
    const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z\xE2\x82\xAC";
    const auto path = file("paged.txt", text);
    // The first page reads a, é and the lead byte of €: the header shows the
    // raw range, the tail points at the cut character.
    auto first = read(path, {{"limit", 4}});
    EXPECT_NE(first.text.find("; served 0..4) ====\na\xC3\xA9\n… 11 bytes remain — continue with offset 3"),
              std::string::npos)
        << first.text;
    EXPECT_EQ(last_audit()["bytes"], 4);

    std::string joined;
    std::uint64_t offset = 0;
    for (int page = 0; page < 10 && offset < text.size(); ++page) {
        auto result = read(path, {{"offset", offset}, {"limit", 4}});
        ASSERT_FALSE(result.is_error) << result.text;
        std::string body = result.text.substr(result.text.find(") ====\n") + 7);
        const auto tail = body.find("\n… ");
        if (tail == std::string::npos) {
            joined += body;
            break;
        }
        joined += body.substr(0, tail);
        offset = std::stoull(body.substr(body.rfind(' ') + 1));
    }
    EXPECT_EQ(joined, text);
}

TEST_F(FsRead, NeverOpensAFifo) {
    const fs::path pipe = root() / "r" / "pipe";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    auto result = read(pipe.string());
    EXPECT_EQ(result.text, "not_a_file: '" + pipe.string() + "' is not a file — use fs_list");
}

// ---------------------------------------------------------------- listing

TEST_F(FsRead, ListsOneLevelWithKindsSortedByBytes) {
    const fs::path d = root() / "r" / "d";
    write_file(d / "b.txt", "12345");
    write_file(d / "B-upper.txt", "");
    write_file(d / "sub" / "deep.txt", "not listed");
    write_file(d / ".env", "SECRET=1");
    fs::create_directory_symlink(d / "sub", d / "link_dir");
    fs::create_symlink(d / "b.txt", d / "link_file");
    fs::create_symlink(d / "nowhere", d / "dangling");
    ASSERT_EQ(::mkfifo((d / "pipe").c_str(), 0600), 0);
    write_file(d / "bad\xFFname", "xy");
    auto result = list(d.string());
    ASSERT_FALSE(result.is_error) << result.text;
    EXPECT_EQ(result.text, d.string() + " (9 entries)\n"
                               ".env\t8\n"
                               "B-upper.txt\t0\n"
                               "b.txt\t5\n"
                               "bad\xEF\xBF\xBDname\t2\n"
                               "dangling\t[symlink]\n"
                               "link_dir\t[symlink]\n"
                               "link_file\t[symlink]\n"
                               "pipe\t0\n"
                               "sub/\n");
    EXPECT_EQ(last_audit()["bytes"], 0);
    EXPECT_EQ(last_audit()["reason"], "allowed");

    fs::create_directories(root() / "r" / "empty");
    EXPECT_EQ(list((root() / "r" / "empty").string()).text, (root() / "r" / "empty").string() + " (0 entries)\n");
}

TEST_F(FsRead, ListingIsCutAtTheLimit) {
    const fs::path d = root() / "r" / "many";
    fs::create_directories(d);
    for (int i = 0; i < 250; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "f%03d", i);
        write_file(d / name, "");
    }
    struct Case {
        json args;
        std::size_t lines;
        std::string last;
    };
    const Case cases[] = {
        {json::object(), 200, "… truncated at 200 — raise limit"},
        {{{"limit", 0}}, 1, "… truncated at 1 — raise limit"},
        {{{"limit", 249}}, 249, "… truncated at 249 — raise limit"},
        {{{"limit", 250}}, 250, "f249\t0"},
        {{{"limit", 100000}}, 250, "f249\t0"},
        {{{"limit", "5"}}, 200, "… truncated at 200 — raise limit"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.dump());
        auto result = list(d.string(), c.args);
        ASSERT_FALSE(result.is_error) << result.text;
        EXPECT_TRUE(result.text.ends_with("\n"));
        const auto lines = lines_of(result.text);
        EXPECT_EQ(lines.front(), d.string() + " (250 entries)");
        const bool truncated = c.last.starts_with("…");
        EXPECT_EQ(lines.size(), 1 + c.lines + (truncated ? 1 : 0));
        EXPECT_EQ(lines.back(), c.last);
        EXPECT_EQ(lines[1], "f000\t0");
    }
}

// ---------------------------------------------------------------- the audit trail

TEST_F(FsRead, EveryCallLeavesOneWholeRecord) {
    const auto ten = file("ten.txt", "0123456789");
    fs::remove_all(server_.fleet_home() / "var");
    read(ten);
    struct stat meta {};
    ASSERT_EQ(::stat(audit_log().c_str(), &meta), 0);
    EXPECT_EQ(meta.st_mode & 0777, 0600u);

    list((root() / "r").string());
    read((root() / "r" / "x.pem").string());
    read((root() / "elsewhere").string());
    server_.call("fs_read", json::object());
    const auto lines = audit_lines();
    ASSERT_EQ(lines.size(), 5u);
    for (const auto& line : lines) EXPECT_TRUE(std::regex_match(line, audit_shape)) << line;
    const std::string r = root().string();
    const std::string expected[] = {
        R"({"allowed":true,"bytes":10,"path":")" + ten + R"(","reason":"allowed","resolved":")" + ten +
            R"(","tool":"fs_read",)",
        R"({"allowed":true,"bytes":0,"path":")" + r + R"(/r","reason":"allowed","resolved":")" + r +
            R"(/r","tool":"fs_list",)",
        R"({"allowed":false,"bytes":0,"path":")" + r + R"(/r/x.pem","reason":"secret_class","resolved":"","tool":"fs_read",)",
        R"({"allowed":false,"bytes":0,"path":")" + r + R"(/elsewhere","reason":"outside_allowlist","resolved":")" + r +
            R"(/elsewhere","tool":"fs_read",)",
        R"({"allowed":false,"bytes":0,"path":"","reason":"bad_request","resolved":"","tool":"fs_read",)",
    };
    for (std::size_t i = 0; i < 5; ++i) EXPECT_TRUE(lines[i].starts_with(expected[i])) << lines[i];
}

TEST_F(FsRead, AnUnwritableTrailServesNothing) {
    const auto ten = file("ten.txt", "0123456789");
    // the log's parent is a file
    fs::remove_all(server_.fleet_home() / "var");
    write_file(server_.fleet_home() / "var", "not a folder");
    for (const std::string& path : {ten, std::string("/elsewhere"), std::string()}) {
        SCOPED_TRACE(path);
        auto result = read(path);
        EXPECT_TRUE(result.is_error);
        EXPECT_TRUE(result.text.starts_with("audit_unavailable: the filesystem audit trail could not be written ("))
            << result.text;
        EXPECT_TRUE(result.text.ends_with(trail_tail)) << result.text;
        EXPECT_EQ(result.text.find("0123456789"), std::string::npos);
    }
    // the log path names a folder
    fs::remove(server_.fleet_home() / "var");
    fs::create_directories(audit_log());
    for (const auto& result : {read(ten), list((root() / "r").string())}) {
        EXPECT_TRUE(result.is_error);
        EXPECT_EQ(result.text, "audit_unavailable: the filesystem audit trail could not be written (Is a directory)" +
                                   trail_tail);
    }
    // and serving resumes once the trail can be written again
    fs::remove(audit_log());
    EXPECT_FALSE(read(ten).is_error);
    EXPECT_EQ(audit_lines().size(), 1u);
}

TEST_F(FsRead, ParallelCallsLeaveWholeLines) {
    const auto text = file("text.txt", std::string(4096, 'x'));
    // long path arguments make records larger than a pipe buffer's atomic size
    const std::string long_missing = (root() / "r").string() + "/" + std::string(200, 'm') + "/" +
                                     std::string(200, 'n') + "/" + std::string(3800, 'o');
    constexpr int calls = 200;
    std::vector<std::future<bool>> results;
    for (int i = 0; i < calls; ++i) {
        results.push_back(std::async(std::launch::async, [&, i] {
            switch (i % 4) {
                case 0: return !read(text).is_error;
                case 1: return read(long_missing).is_error;
                case 2: return !list((root() / "r").string()).is_error;
                default: return read("/outside/" + std::string(5000, 'q')).is_error;
            }
        }));
    }
    for (auto& result : results) EXPECT_TRUE(result.get());
    const std::string log = read_file(audit_log());
    ASSERT_TRUE(log.ends_with("\n"));
    const auto lines = lines_of(log);
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(calls));
    std::map<std::string, int> reasons;
    for (const auto& line : lines) {
        ASSERT_TRUE(std::regex_match(line, audit_shape)) << line.substr(0, 200);
        reasons[json::parse(line)["reason"].get<std::string>()]++;
    }
    EXPECT_EQ(reasons["allowed"], 100);
    EXPECT_EQ(reasons["outside_allowlist"], 50);
    EXPECT_EQ(reasons["not_found"] + reasons["io_error"], 50);
}

// ---------------------------------------------------------------- other locations

TEST(FsAccessLocations, TheEnvironmentNamesTheAllowlistAndTheTrail) {
    e2e::TempDir place;
    const fs::path allow = place.path() / "policy" / "allow.json";
    const fs::path log = place.path() / "deep" / "er" / "audit.jsonl";
    const fs::path doc = place.path() / "docs" / "a.txt";
    write_file(doc, "doc");
    write_file(allow, json::array({(place.path() / "docs").string()}).dump());
    e2e::Server::Options options;
    options.env["WENDLE_FS_ALLOW"] = allow.string();
    options.env["WENDLE_FS_AUDIT_LOG"] = log.string();
    e2e::Server server(options);

    auto served = server.call("fs_read", {{"path", doc.string()}});
    EXPECT_FALSE(served.is_error) << served.text;
    EXPECT_EQ(served.text, "==== " + doc.string() + " (3 bytes total; served 0..3) ====\ndoc");
    struct stat meta {};
    ASSERT_EQ(::stat(log.c_str(), &meta), 0);
    EXPECT_EQ(meta.st_mode & 0777, 0600u);
    EXPECT_FALSE(fs::exists(server.fleet_home() / "var" / "fs-audit.log"));

    fs::remove(allow);
    auto refused = server.call("fs_list", {{"path", doc.parent_path().string()}});
    EXPECT_EQ(refused.text, "no_allowlist: no filesystem roots are declared, so nothing is served. The operator "
                            "declares them as a JSON array of absolute paths in " +
                                allow.string() + " — until then every path is refused.");
    EXPECT_EQ(lines_of(read_file(log)).size(), 2u);
}

}  // namespace
