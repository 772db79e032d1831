#include "fs/tools.hpp"

#include <algorithm>
#include <string>

#include "fs/audit.hpp"
#include "fs/policy.hpp"
#include "fs/serve.hpp"

namespace fsaccess {

using toolport::json;
using toolport::ToolOutput;

namespace {

std::string reason_list() {
    std::string list;
    for (Reason reason : all_reasons) {
        if (!list.empty()) list += ", ";
        list += reason_code(reason);
    }
    return list;
}

std::string read_description() {
    return "Read a TEXT file from a folder the operator has pre-approved — the surface for paths OUTSIDE a repo "
           "(use project_files for repo files, research_read for research). `path` is absolute (or ~/…). "
           "Read-only. Paths outside the declared roots are refused, and the check runs on the fully resolved "
           "path, so symlinks and '..' cannot reach out. Files over " +
           std::to_string(read_cap / 1024) +
           "KB need a window: pass `offset`/`limit` (bytes). Every call is audit-logged. Refusals are typed, one "
           "of: " +
           reason_list() + ".";
}

ToolOutput read_call(const json& args) {
    const std::string path = toolport::str(args, "path").value_or("");
    ReadWindow window;
    window.offset = toolport::uint64(args, "offset").value_or(0);
    if (auto limit = toolport::uint64(args, "limit")) {
        window.limit_passed = true;
        window.limit = std::clamp<std::uint64_t>(*limit, 1, read_cap);
    }
    window.windowed = window.offset > 0 || window.limit_passed;
    FsOutcome outcome = fs_read_serve(path, window, fs_policy());
    return finish_fs("fs_read", path, std::move(outcome));
}

ToolOutput list_call(const json& args) {
    const std::string path = toolport::str(args, "path").value_or("");
    const auto limit = static_cast<std::int64_t>(std::clamp<std::uint64_t>(
        toolport::uint64(args, "limit").value_or(list_default_limit), 1, list_max_limit));
    FsOutcome outcome = fs_list_serve(path, limit, fs_policy());
    return finish_fs("fs_list", path, std::move(outcome));
}

}  // namespace

toolport::Tool tool_fs_read() {
    json schema = {
        {"type", "object"},
        {"properties",
         {
             {"path", {{"type", "string"}, {"description", "absolute path, or ~/…"}}},
             {"offset",
              {{"type", "integer"}, {"description", "byte offset to start at (default 0)"}, {"minimum", 0}}},
             {"limit",
              {{"type", "integer"}, {"description", "max bytes to return (default and cap 262144)"}, {"minimum", 1}}},
         }},
        {"required", json::array({"path"})},
    };
    return toolport::Tool("fs_read", read_description(), std::move(schema),
                          toolport::inline_handler(read_call));
}

toolport::Tool tool_fs_list() {
    json schema = {
        {"type", "object"},
        {"properties",
         {
             {"path", {{"type", "string"}, {"description", "absolute directory path, or ~/…"}}},
             {"limit", {{"type", "integer"}, {"minimum", 1}, {"maximum", list_max_limit}}},
         }},
        {"required", json::array({"path"})},
    };
    return toolport::Tool(
        "fs_list",
        "List a directory from a folder the operator has pre-approved — names, kinds and sizes only, no content. "
        "Same allowlist and same path law as fs_read: `path` is absolute (or ~/…), the check runs on the fully "
        "resolved path, and every call is audit-logged. Symlinks are listed as symlinks, not followed. `limit` "
        "defaults to 200.",
        std::move(schema), toolport::inline_handler(list_call));
}

}  // namespace fsaccess
