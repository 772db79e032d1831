#include "fs/audit.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

using fsaccess::FsOutcome;
using fsaccess::FsRefusal;
using fsaccess::FsServed;
using fsaccess::Reason;

FsRefusal refusal(Reason reason, std::string message = {}, std::string resolved = {}) {
    FsRefusal r = FsRefusal::with_message(reason, std::move(message));
    r.resolved = std::move(resolved);
    return r;
}

struct TextCase {
    FsRefusal refusal;
    std::string path;
    std::string text;
};

TEST(FsRefusalText, EveryReasonHasItsMessage) {
    FsRefusal large = refusal(Reason::too_large);
    large.size = 262145;
    large.cap = 262144;
    const TextCase cases[] = {
        {refusal(Reason::bad_request, "path is required"), "  ", "bad_request: path is required"},
        {refusal(Reason::bad_request, "'rel/x ' must be an absolute path (or start with ~/)"), "rel/x ",
         "bad_request: 'rel/x ' must be an absolute path (or start with ~/)"},
        {refusal(Reason::no_allowlist), "/a",
         "no_allowlist: no filesystem roots are declared, so nothing is served. The operator declares them as a "
         "JSON array of absolute paths in /h/.wendle/config/fs-allow.json — until then every path is refused."},
        {refusal(Reason::outside_allowlist, {}, "/etc/passwd"), " /r/../etc/passwd",
         "outside_allowlist: ' /r/../etc/passwd' resolves outside every declared root. The check runs on the fully "
         "resolved path, so symlinks and '..' cannot reach out of a root."},
        {refusal(Reason::denylisted, {}, "/r/private"), "~/private",
         "denylisted: '~/private' is inside a subtree the operator has explicitly denied, even though an allowed "
         "root contains it. Deny wins."},
        {refusal(Reason::secret_class), "/r/.env", "secret_class: '/r/.env' is a secret-class file and is never served"},
        {refusal(Reason::not_found), "/r/none", "not_found: nothing exists at '/r/none'"},
        {refusal(Reason::not_a_file), "/r/dir", "not_a_file: '/r/dir' is not a file — use fs_list"},
        {refusal(Reason::not_a_directory), "/r/f", "not_a_directory: '/r/f' is not a directory — use fs_read"},
        {large, "/r/big",
         "too_large: '/r/big' is 262145 bytes, over the 262144-byte per-read cap. Pass offset and/or limit to read "
         "a window of it."},
        {refusal(Reason::binary_unsupported), "/r/a.bin",
         "binary_unsupported: '/r/a.bin' is not text; this surface serves text only"},
        {refusal(Reason::io_error, "Permission denied"), "/r/locked", "io_error: reading '/r/locked': Permission denied"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(fsaccess::refusal_text(c.refusal, c.path, "/h/.wendle/config/fs-allow.json"), c.text);
    }
}

struct RecordCase {
    const char* tool;
    std::string path;
    FsOutcome outcome;
    std::string line;
};

TEST(FsAuditRecord, KeysInOrderAndResolvedOnlyWhereItBelongs) {
    const std::string ts = "2026-08-04T09:05:07.042Z";
    const RecordCase cases[] = {
        {"fs_read", "/r/ten.txt", FsServed{"/r/ten.txt", "text", 10},
         R"({"allowed":true,"bytes":10,"path":"/r/ten.txt","reason":"allowed","resolved":"/r/ten.txt","tool":"fs_read","ts":"2026-08-04T09:05:07.042Z"})"},
        {"fs_list", " ~/r ", FsServed{"/home/u/r", "listing", 0},
         R"({"allowed":true,"bytes":0,"path":" ~/r ","reason":"allowed","resolved":"/home/u/r","tool":"fs_list","ts":"2026-08-04T09:05:07.042Z"})"},
        {"fs_read", "", std::unexpected(refusal(Reason::bad_request, "path is required")),
         R"({"allowed":false,"bytes":0,"path":"","reason":"bad_request","resolved":"","tool":"fs_read","ts":"2026-08-04T09:05:07.042Z"})"},
        {"fs_read", "/r/l", std::unexpected(refusal(Reason::outside_allowlist, {}, "/etc/hosts")),
         R"({"allowed":false,"bytes":0,"path":"/r/l","reason":"outside_allowlist","resolved":"/etc/hosts","tool":"fs_read","ts":"2026-08-04T09:05:07.042Z"})"},
        {"fs_list", "/r/d", std::unexpected(refusal(Reason::denylisted, {}, "/r/d")),
         R"({"allowed":false,"bytes":0,"path":"/r/d","reason":"denylisted","resolved":"/r/d","tool":"fs_list","ts":"2026-08-04T09:05:07.042Z"})"},
        // a refusal that carries no resolved path writes an empty one
        {"fs_read", "/r/.env", std::unexpected(refusal(Reason::secret_class, {}, "/r/.env")),
         R"({"allowed":false,"bytes":0,"path":"/r/.env","reason":"secret_class","resolved":"","tool":"fs_read","ts":"2026-08-04T09:05:07.042Z"})"},
        {"fs_read", "/r/x", std::unexpected(refusal(Reason::io_error, "Permission denied")),
         R"({"allowed":false,"bytes":0,"path":"/r/x","reason":"io_error","resolved":"","tool":"fs_read","ts":"2026-08-04T09:05:07.042Z"})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(toolport::dump(fsaccess::audit_record(c.tool, c.path, c.outcome, ts)), c.line);
    }
}

}  // namespace
