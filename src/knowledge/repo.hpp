// Reading a project's real repository: a filtered listing of its tree and
// batches of files, confined to the repository.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <toolport/toolport.hpp>

namespace knowledge {

inline constexpr std::int64_t default_tree_depth = 4;
inline constexpr std::int64_t max_tree_depth = 12;
inline constexpr std::int64_t default_tree_entries = 500;
inline constexpr std::int64_t min_tree_entries = 10;
inline constexpr std::int64_t max_tree_entries = 4000;
inline constexpr std::size_t max_batch_paths = 20;
inline constexpr std::size_t file_cap = 256 * 1024;
inline constexpr std::size_t batch_cap = 1024 * 1024;

// Directories never listed nor entered (besides every name beginning with ".").
bool skipped_dir(std::string_view name);

// Appends the entries below `dir` in pre-order, names in byte order at each
// level: directories as "rel/" followed by their contents, anything else as
// "rel", relative to `root`. Symbolic links are followed; `depth` ends cycles.
// Stops, without listing any further directory, once `entries` holds `limit`.
void walk_tree(const std::filesystem::path& root, const std::filesystem::path& dir, std::int64_t depth,
               std::vector<std::string>& entries, std::size_t limit);

struct TreeLimits {
    std::int64_t depth = default_tree_depth;
    std::int64_t max_entries = default_tree_entries;
};
// `depth` and `max_entries` of a project_tree call: defaults for anything but
// an integer that fits, then clamped to their ranges.
TreeLimits tree_limits(const toolport::json& args);

// The string elements of the `paths` argument, in order; none when it is not an array.
std::vector<std::string> batch_paths(const toolport::json& args);

// The project_tree text: header line, entries, and the truncation line when
// the limit was reached.
std::string tree_text(const std::string& root, std::int64_t depth, std::int64_t max_entries);

// Resolves a repository-relative path to a regular file inside the repository.
toolport::Result<std::filesystem::path> repo_file_path(const std::filesystem::path& root, std::string_view path);

// The project_files text: one block per path, each ending with a line feed.
std::string files_text(const std::filesystem::path& root, const std::vector<std::string>& paths);

toolport::Tool tool_project_tree();
toolport::Tool tool_project_files();

}  // namespace knowledge
