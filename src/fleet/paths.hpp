// Where the fleet lives and how paths and times are written.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <toolport/toolport.hpp>

namespace fleet {

namespace fs = std::filesystem;
using toolport::json;
using toolport::Result;

// HOME if set (even empty), else the account database's home, else none.
std::optional<fs::path> home_dir();
// WENDLE_HOME when set and non-empty, else home/.wendle.
fs::path fleet_home();
std::string expand_tilde(std::string_view text);
// A JSON array of path strings, trimmed, blanks skipped.
Result<std::vector<std::string>> path_strings(const json& value, std::string_view key);
// Canonical as far as the path exists, lexical beyond. Never fails.
fs::path resolve_canonical(const fs::path& path);
// YYYY-MM-DDTHH:MM:SS.mmmZ, UTC, proleptic Gregorian.
std::string format_rfc3339(std::int64_t seconds, std::uint32_t millis);

struct Now {
    std::string rfc3339;  // format_rfc3339 of the wall clock
    double seconds;       // real Unix seconds; 0 for a clock before 1970
};
Now now();

// Decodes bytes as UTF-8, replacing invalid sequences with U+FFFD.
std::string utf8_lossy(std::string_view bytes);

}  // namespace fleet
