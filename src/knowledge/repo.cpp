#include "knowledge/repo.hpp"

#include <algorithm>
#include <array>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fleet/paths.hpp"
#include "fs/secret.hpp"
#include "knowledge/confine.hpp"
#include "ledger/projects.hpp"

namespace knowledge {

namespace asio = boost::asio;
using toolport::json;
using toolport::ToolOutput;

bool skipped_dir(std::string_view name) {
    static constexpr std::array<std::string_view, 15> noise{
        ".git",  "dist",   "Pods",   "build",  ".next",       ".vite",       ".venv",       "target",
        ".astro", ".cache", ".build", "vendor", "DerivedData", "__pycache__", "node_modules"};
    return name.starts_with('.') || std::find(noise.begin(), noise.end(), name) != noise.end();
}

namespace {

struct Entry {
    std::string name;
    unsigned char type;
};

// An open directory stream; its descriptor also serves the lookups of its entries.
struct Dir {
    DIR* stream = nullptr;
    explicit Dir(int fd) : stream(::fdopendir(fd)) {
        if (stream == nullptr) ::close(fd);
    }
    ~Dir() {
        if (stream != nullptr) ::closedir(stream);
    }
    Dir(const Dir&) = delete;
    Dir& operator=(const Dir&) = delete;
    int fd() const { return ::dirfd(stream); }
};

// The entries of the directory, "." and ".." left out. An error part way
// through keeps what was read.
std::vector<Entry> list_dir(DIR* stream) {
    std::vector<Entry> entries;
    while (const dirent* ent = ::readdir(stream)) {
        const std::string_view name = ent->d_name;
        if (name != "." && name != "..") entries.push_back({std::string(name), ent->d_type});
    }
    return entries;
}

// Whether the entry is a directory, following symbolic links.
bool is_directory(int dirfd, const Entry& entry) {
    if (entry.type == DT_DIR) return true;
    if (entry.type != DT_LNK && entry.type != DT_UNKNOWN) return false;
    struct stat st {};
    return ::fstatat(dirfd, entry.name.c_str(), &st, 0) == 0 && S_ISDIR(st.st_mode);
}

// Walks the directory open as `fd` (owned here); `prefix` is its text
// relative to the root, empty or ending with "/". Callers check the depth and
// the limit first, so no directory is opened once the list is full.
void walk_fd(int fd, const std::string& prefix, std::int64_t depth, std::vector<std::string>& entries,
             std::size_t limit) {
    const Dir dir(fd);
    if (dir.stream == nullptr) return;
    auto listing = list_dir(dir.stream);
    std::sort(listing.begin(), listing.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });

    for (const Entry& entry : listing) {
        if (entries.size() >= limit) return;
        const bool is_dir = is_directory(dir.fd(), entry);
        if (is_dir && skipped_dir(entry.name)) continue;
        std::string text = prefix + fleet::utf8_lossy(entry.name);
        if (!is_dir) {
            entries.push_back(std::move(text));
            continue;
        }
        text += '/';
        entries.push_back(text);
        if (depth <= 1 || entries.size() >= limit) continue;
        const int child = ::openat(dir.fd(), entry.name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (child >= 0) walk_fd(child, text, depth - 1, entries, limit);
    }
}

}  // namespace

void walk_tree(const std::filesystem::path& root, const std::filesystem::path& dir, std::int64_t depth,
               std::vector<std::string>& entries, std::size_t limit) {
    if (depth <= 0 || entries.size() >= limit) return;
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    std::string prefix;
    const auto relative = dir.lexically_relative(root);
    if (relative.empty() || relative.begin()->native() == "..") {
        prefix = fleet::utf8_lossy(dir.native());  // not under the root: the full path
    } else if (relative != ".") {
        prefix = fleet::utf8_lossy(relative.native());
    }
    if (!prefix.empty() && !prefix.ends_with('/')) prefix += '/';
    walk_fd(fd, prefix, depth, entries, limit);
}

std::string tree_text(const std::string& root, std::int64_t depth, std::int64_t max_entries) {
    const auto limit = static_cast<std::size_t>(max_entries);
    std::vector<std::string> entries;
    walk_tree(root, root, depth, entries, limit);
    std::string text = fleet::utf8_lossy(root) + " (" + std::to_string(entries.size()) + " entries)\n";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i > 0) text += '\n';
        text += entries[i];
    }
    if (entries.size() >= limit) text += "\n… truncated — raise max_entries or narrow depth";
    return text;
}

namespace {

// The last named component of a relative path ("a/b/" and "a/b/." give "b").
std::string_view last_name(std::string_view path) {
    std::string_view name;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        const auto piece = path.substr(start, end - start);
        if (!piece.empty() && piece != ".") name = piece;
        start = end + 1;
    }
    return name.empty() ? path : name;
}

}  // namespace

toolport::Result<std::filesystem::path> repo_file_path(const std::filesystem::path& root, std::string_view path) {
    namespace fs = std::filesystem;
    const std::string trimmed = toolport::trim(path);
    const auto escapes = [&] { return std::unexpected("path '" + trimmed + "' escapes the project"); };
    const auto secret = [&] { return std::unexpected("'" + trimmed + "' is a secret-class file and is never served"); };
    if (trimmed.empty() || climbs_out(trimmed)) return escapes();
    if (fsaccess::is_secret_file(last_name(trimmed))) return secret();
    std::error_code ec;
    const fs::path canonical_root = fs::canonical(root, ec);
    if (ec) return std::unexpected("project root unavailable: " + ec.message());
    const auto found = resolve_below(canonical_root, trimmed);
    if (!found) return std::unexpected("no file at '" + trimmed + "'");
    const fs::path& resolved = *found;
    if (!lies_under(resolved, canonical_root)) return escapes();
    // A link inside the repository must not serve a secret under another name.
    if (fsaccess::is_secret_file(resolved.filename().native())) return secret();
    if (!fs::is_regular_file(resolved, ec)) return std::unexpected("'" + trimmed + "' is not a file");
    return resolved;
}

std::string files_text(const std::filesystem::path& root, const std::vector<std::string>& paths) {
    std::string text;
    std::size_t total = 0;
    for (const std::string& path : paths) {
        const std::string header = "==== " + path;
        const auto resolved = repo_file_path(root, path);
        if (!resolved) {
            text += header + " ====\n[error: " + resolved.error() + "]\n";
            continue;
        }
        const auto file = read_file(*resolved, file_cap);
        if (!file) {
            text += header + " ====\n[error: " + file.error() + "]\n";
        } else if (file->over_cap) {
            text += header + " ====\n[skipped: " + std::to_string(file->size) + " bytes exceeds the " +
                    std::to_string(file_cap / 1024) + "KB per-file cap]\n";
        } else if (!toolport::valid_utf8(file->bytes)) {
            text += header + " ====\n[skipped: binary]\n";
        } else {
            // Every text file counts, also one skipped here, so once the cap
            // is passed every later text file of the batch is skipped too.
            total += file->size;
            if (total <= batch_cap) {
                text += header + " (" + std::to_string(file->size) + " bytes) ====\n" + file->bytes + "\n";
            } else {
                text += header + " ====\n[skipped: batch " + std::to_string(batch_cap / 1024) + "KB cap reached]\n";
            }
        }
    }
    return text;
}

TreeLimits tree_limits(const json& args) {
    return {
        std::clamp(toolport::int64(args, "depth").value_or(default_tree_depth), std::int64_t{1}, max_tree_depth),
        std::clamp(toolport::int64(args, "max_entries").value_or(default_tree_entries), min_tree_entries,
                   max_tree_entries),
    };
}

std::vector<std::string> batch_paths(const json& args) {
    std::vector<std::string> paths;
    if (!args.is_object()) return paths;
    const auto member = args.find("paths");
    if (member == args.end() || !member->is_array()) return paths;
    for (const json& item : *member) {
        if (item.is_string()) paths.push_back(item.get<std::string>());
    }
    return paths;
}

toolport::Tool tool_project_tree() {
    json schema = {
        {"type", "object"},
        {"properties",
         {{"project", {{"type", "string"}}},
          {"depth", {{"type", "integer"}, {"minimum", 1}, {"maximum", max_tree_depth}}},
          {"max_entries", {{"type", "integer"}, {"minimum", min_tree_entries}, {"maximum", max_tree_entries}}}}},
        {"required", json::array({"project"})},
    };
    return toolport::Tool(
        "project_tree",
        "List a project's repo files (relative paths, dirs with trailing '/'). `project` is a name or key from "
        "project_list. Skips .git/node_modules/target-style noise. Use the listing to pick paths for "
        "project_files. `depth` defaults to 4, `max_entries` to 500.",
        std::move(schema), toolport::inline_handler([](const json& args) -> ToolOutput {
            const auto project = toolport::required_str(args, "project");
            if (!project) return project.error();
            const auto limits = tree_limits(args);
            const auto root = ledger::project_root(*project);
            if (!root) return ToolOutput::failure(root.error());
            return ToolOutput::success(tree_text(*root, limits.depth, limits.max_entries));
        }));
}

toolport::Tool tool_project_files() {
    json schema = {
        {"type", "object"},
        {"properties",
         {{"project", {{"type", "string"}}},
          {"paths",
           {{"type", "array"}, {"items", {{"type", "string"}}}, {"minItems", 1}, {"maxItems", max_batch_paths}}}}},
        {"required", json::array({"project", "paths"})},
    };
    return toolport::Tool(
        "project_files",
        "Read up to 20 files from a project's repo in ONE batch. `project` is a name or key from project_list; "
        "`paths` are repo-relative (as printed by project_tree — e.g. README.md). Returns each file under a "
        "'==== path ====' header; unreadable paths report their error inline without failing the batch.",
        std::move(schema), toolport::inline_handler([](const json& args) -> ToolOutput {
            const auto project = toolport::str(args, "project");
            const auto paths = batch_paths(args);
            if (!project || toolport::trim(*project).empty() || paths.empty() || paths.size() > max_batch_paths) {
                return ToolOutput::failure("project and 1..=20 paths are required");
            }
            const auto root = ledger::project_root(*project);
            if (!root) return ToolOutput::failure(root.error());
            return ToolOutput::success(files_text(*root, paths));
        }));
}

}  // namespace knowledge
