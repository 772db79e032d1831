#include "fs/audit.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "fleet/os_error.hpp"
#include "fleet/paths.hpp"

namespace fsaccess {

using toolport::json;

stdfs::path fs_audit_log_path() {
    if (const char* value = std::getenv("WENDLE_FS_AUDIT_LOG"); value != nullptr && *value != '\0') {
        return value;
    }
    return fleet::fleet_home() / "var" / "fs-audit.log";
}

json audit_record(std::string_view tool, std::string_view path, const FsOutcome& outcome, const std::string& ts) {
    json record = json::object();
    record["path"] = std::string(path);
    record["tool"] = std::string(tool);
    record["ts"] = ts;
    if (outcome) {
        record["allowed"] = true;
        record["bytes"] = outcome->bytes;
        record["reason"] = "allowed";
        record["resolved"] = outcome->resolved;
    } else {
        const FsRefusal& refusal = outcome.error();
        record["allowed"] = false;
        record["bytes"] = 0;
        record["reason"] = std::string(reason_code(refusal.reason));
        const bool carries_path =
            refusal.reason == Reason::outside_allowlist || refusal.reason == Reason::denylisted;
        record["resolved"] = carries_path ? refusal.resolved : std::string();
    }
    return record;
}

std::string refusal_text(const FsRefusal& refusal, std::string_view path, const stdfs::path& allowlist) {
    const std::string quoted = "'" + std::string(path) + "'";
    std::string message;
    switch (refusal.reason) {
        case Reason::bad_request: message = refusal.message; break;
        case Reason::no_allowlist:
            message = "no filesystem roots are declared, so nothing is served. The operator declares them as a "
                      "JSON array of absolute paths in " +
                      allowlist.string() + " — until then every path is refused.";
            break;
        case Reason::outside_allowlist:
            message = quoted +
                      " resolves outside every declared root. The check runs on the fully resolved path, so "
                      "symlinks and '..' cannot reach out of a root.";
            break;
        case Reason::denylisted:
            message = quoted +
                      " is inside a subtree the operator has explicitly denied, even though an allowed root "
                      "contains it. Deny wins.";
            break;
        case Reason::secret_class: message = quoted + " is a secret-class file and is never served"; break;
        case Reason::not_found: message = "nothing exists at " + quoted; break;
        case Reason::not_a_file: message = quoted + " is not a file — use fs_list"; break;
        case Reason::not_a_directory: message = quoted + " is not a directory — use fs_read"; break;
        case Reason::too_large:
            message = quoted + " is " + std::to_string(refusal.size) + " bytes, over the " +
                      std::to_string(refusal.cap) +
                      "-byte per-read cap. Pass offset and/or limit to read a window of it.";
            break;
        case Reason::binary_unsupported: message = quoted + " is not text; this surface serves text only"; break;
        case Reason::io_error: message = "reading " + quoted + ": " + refusal.message; break;
    }
    return std::string(reason_code(refusal.reason)) + ": " + message;
}

std::expected<void, std::string> append_audit_line(const stdfs::path& log, std::string_view line) {
    if (const auto parent = log.parent_path(); !parent.empty()) {
        std::error_code ec;
        stdfs::create_directories(parent, ec);
        if (ec) return std::unexpected(ec.message());
    }
    const int fd = ::open(log.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600);
    if (fd < 0) return std::unexpected(fleet::os_error_text(errno));
    // One write of the whole line: appends from concurrent calls land whole.
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            return std::unexpected(fleet::os_error_text(error));
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0 && errno != EINTR) return std::unexpected(fleet::os_error_text(errno));
    return {};
}

toolport::ToolOutput finish_fs(std::string_view tool, std::string_view path, FsOutcome outcome) {
    const std::string line = toolport::dump(audit_record(tool, path, outcome, fleet::now().rfc3339)) + "\n";
    if (auto written = append_audit_line(fs_audit_log_path(), line); !written) {
        return toolport::ToolOutput::failure("audit_unavailable: the filesystem audit trail could not be written (" +
                                             written.error() + ") — no path is served while the trail is broken");
    }
    if (outcome) return toolport::ToolOutput::success(std::move(outcome->text));
    return toolport::ToolOutput::failure(refusal_text(outcome.error(), path, fs_allowlist_path()));
}

}  // namespace fsaccess
