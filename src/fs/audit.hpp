// The audit trail of file access: one JSON line per call, written before the
// call's result is given out.
#pragma once

#include <expected>
#include <filesystem>
#include <string>
#include <string_view>

#include <toolport/toolport.hpp>

#include "fs/serve.hpp"

namespace fsaccess {

// WENDLE_FS_AUDIT_LOG when set and non-empty, else <fleet home>/var/fs-audit.log.
stdfs::path fs_audit_log_path();

// The record of one call; `ts` is the time it was made.
toolport::json audit_record(std::string_view tool, std::string_view path, const FsOutcome& outcome,
                            const std::string& ts);

// The error text a refusal gives the caller; `path` is the argument as received.
std::string refusal_text(const FsRefusal& refusal, std::string_view path, const stdfs::path& allowlist);

// Appends the line with a single write to the log, creating missing parent
// directories and the file itself (mode 0600). The failure is the error text.
std::expected<void, std::string> append_audit_line(const stdfs::path& log, std::string_view line);

// Writes the call's record, then gives the tool's result: the served text,
// the refusal as an error, or the audit failure in place of either.
toolport::ToolOutput finish_fs(std::string_view tool, std::string_view path, FsOutcome outcome);

}  // namespace fsaccess
