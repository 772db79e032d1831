#include "ledger/projects.hpp"

#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <span>
#include <system_error>
#include <unordered_map>

#include "fleet/paths.hpp"
#include "ledger/store.hpp"
#include "ledger/text.hpp"

namespace ledger {

namespace fs = std::filesystem;
using toolport::json;

namespace {

bool is_directory(const std::string& path) {
    std::error_code ec;
    return fs::is_directory(path, ec);
}

std::string join_path(const std::string& base, std::string_view name) {
    if (base.empty()) return std::string(name);
    if (base.back() == '/') return base + std::string(name);
    return base + "/" + std::string(name);
}

std::string join(std::span<const std::string> pieces, std::string_view separator) {
    std::string out;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i) out += separator;
        out += pieces[i];
    }
    return out;
}

// Replaces every non-overlapping "//" with "/", left to right.
std::string collapse_double_slashes(std::string_view key) {
    std::string out;
    out.reserve(key.size());
    for (std::size_t i = 0; i < key.size(); ++i) {
        out += key[i];
        if (key[i] == '/' && i + 1 < key.size() && key[i + 1] == '/') ++i;
    }
    return out;
}

// "wf_" followed by at least one dash, digit or hexadecimal letter.
bool is_worktree_scratch(std::string_view component) {
    if (component == "wf") return true;
    if (!component.starts_with("wf_") || component.size() == 3) return false;
    return std::ranges::all_of(component.substr(3), [](char c) {
        return c == '-' || is_ascii_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    });
}

bool is_ascii(std::string_view text) {
    return std::ranges::none_of(text, [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

// Directory probes for one project-list build. Each directory searched is
// listed once, its names lower-cased (for case-insensitive file systems) and
// sorted: a candidate that matches no name is not probed, and a component that
// no name begins with is not extended. Names with non-ASCII bytes (which a
// file system may normalise) and directories that cannot be listed are always
// probed.
class DirProbe {
public:
    bool is_dir(const std::string& base, const std::string& name) {
        if (is_ascii(name)) {
            const auto* listed = names(base);
            if (listed && !std::ranges::binary_search(*listed, to_ascii_lower(name))) return false;
        }
        return is_directory(join_path(base, name));
    }

    // False only when no name in `base` begins with the ASCII text.
    bool may_begin(const std::string& base, const std::string& text) {
        if (!is_ascii(text)) return true;
        const auto* listed = names(base);
        if (!listed) return true;
        const std::string lower = to_ascii_lower(text);
        auto it = std::ranges::lower_bound(*listed, lower);
        return it != listed->end() && it->starts_with(lower);
    }

private:
    const std::vector<std::string>* names(const std::string& dir) {
        auto [it, fresh] = listings_.try_emplace(dir);
        if (fresh) it->second = list(dir);
        return it->second ? &*it->second : nullptr;
    }

    static std::optional<std::vector<std::string>> list(const std::string& dir) {
        std::error_code ec;
        fs::directory_iterator entries(dir, ec);
        if (ec) return std::nullopt;
        std::vector<std::string> names;
        for (auto end = fs::directory_iterator(); entries != end; entries.increment(ec)) {
            if (ec) return std::nullopt;
            names.push_back(to_ascii_lower(entries->path().filename().string()));
        }
        if (ec) return std::nullopt;
        std::ranges::sort(names);
        return names;
    }

    std::unordered_map<std::string, std::optional<std::vector<std::string>>> listings_;
};

std::string resolve_span(DirProbe& probe, const std::string& base, std::span<const std::string> tokens) {
    if (tokens.empty()) return base;
    const std::size_t limit = std::min<std::size_t>(tokens.size(), 6);
    // Extensions may be pruned only when every token they could add is ASCII.
    const bool prunable = std::ranges::all_of(tokens.first(limit), is_ascii);
    struct Candidate {
        std::string text;
        std::size_t next;
    };
    std::deque<Candidate> queue{{tokens[0], 1}};
    while (!queue.empty()) {
        Candidate candidate = std::move(queue.front());
        queue.pop_front();
        // "." and ".." would step out of the directory being searched.
        if (!candidate.text.empty() && candidate.text != "." && candidate.text != "..") {
            if (probe.is_dir(base, candidate.text)) {
                std::string found = resolve_span(probe, join_path(base, candidate.text), tokens.subspan(candidate.next));
                if (!found.empty()) return found;
            }
        }
        if (candidate.next < limit && (!prunable || probe.may_begin(base, candidate.text))) {
            const std::string& token = tokens[candidate.next];
            for (const char* separator : {"-", ".", "_", " "})
                queue.push_back({candidate.text + separator + token, candidate.next + 1});
        }
    }
    return {};
}

// The directory of a key and whether it was confirmed to exist.
std::pair<std::string, bool> key_path(DirProbe& probe, const std::string& key) {
    if (!key.starts_with('-')) {
        std::string path = collapse_double_slashes(key);
        const bool exists = is_directory(path);
        return {std::move(path), exists};
    }
    std::vector<std::string> tokens;
    std::size_t start = 1;
    for (;;) {
        const auto dash = key.find('-', start);
        tokens.push_back(key.substr(start, dash == std::string::npos ? std::string::npos : dash - start));
        if (dash == std::string::npos) break;
        start = dash + 1;
    }
    const std::size_t n = tokens.size();
    if (tokens.front() == "home") return {"/" + join(tokens, "/"), false};
    const auto search = [&](std::size_t count) { return resolve_span(probe, "/", std::span(tokens).first(count)); };
    if (std::string found = search(n); !found.empty()) return {found, true};
    if (n > 1) {
        const std::size_t lowest = n > 4 ? n - 3 : 1;
        for (std::size_t k = n - 1; k >= lowest; --k) {
            std::string found = search(k);
            if (!found.empty()) return {join_path(found, join(std::span(tokens).subspan(k), "/")), false};
        }
    }
    return {"/" + join(tokens, "/"), false};
}

// The quick first guess of a key's directory, before any probing.
std::string guessed_path(const std::string& key) {
    if (!key.starts_with('-')) return collapse_double_slashes(key);
    std::string rest = key.substr(key.find_first_not_of('-') == std::string::npos ? key.size()
                                                                                   : key.find_first_not_of('-'));
    std::ranges::replace(rest, '-', '/');
    return "/" + rest;
}

std::string no_project(std::string_view name) {
    return "no project matches '" + std::string(name) + "' — see project_list";
}

// The key in a project brief's first "**Key:** `...`" line ("**Key:** ``"
// gives the empty key).
std::optional<std::string> brief_key(const fs::path& brief) {
    std::ifstream in(brief, std::ios::binary);
    if (!in) return std::nullopt;
    static constexpr std::string_view prefix = "**Key:** `";
    std::string line;
    while (std::getline(in, line)) {
        if (line.ends_with('\r')) line.pop_back();
        if (line.size() > prefix.size() && line.starts_with(prefix) && line.ends_with('`'))
            return line.substr(prefix.size(), line.size() - prefix.size() - 1);
    }
    return std::nullopt;
}

}  // namespace

bool is_ephemeral_path(std::string_view path) {
    std::string_view bare = path;
    if (bare.starts_with("/private")) bare.remove_prefix(8);
    if (bare.starts_with("/var/folders/") || bare.starts_with("/tmp/") || bare == "/tmp") return true;
    if (path.find("/Library/Application") != std::string_view::npos ||
        path.find("/missions/sandbox/") != std::string_view::npos)
        return true;
    const std::string_view last = path.substr(path.rfind('/') == std::string_view::npos ? 0 : path.rfind('/') + 1);
    if (!last.empty() && std::ranges::all_of(last, is_ascii_digit)) return true;
    for (std::size_t start = 0;;) {
        const auto slash = path.find('/', start);
        if (is_worktree_scratch(path.substr(start, slash == std::string_view::npos ? slash : slash - start)))
            return true;
        if (slash == std::string_view::npos) return false;
        start = slash + 1;
    }
}

std::string resolve_toks(const std::string& base, const std::vector<std::string>& tokens, std::size_t count) {
    DirProbe probe;
    return resolve_span(probe, base, std::span(tokens).first(std::min(count, tokens.size())));
}

std::vector<ProjectEntry> merge_projects(const std::vector<SessionRow>& rows) {
    struct Slot {
        const SessionRow* row;
        bool resolved;
    };
    std::map<std::string, Slot> by_path;
    DirProbe probe;
    for (const auto& row : rows) {
        if (is_ephemeral_path(guessed_path(row.key))) continue;
        auto [path, resolved] = key_path(probe, row.key);
        if (is_ephemeral_path(path)) continue;
        auto [it, inserted] = by_path.try_emplace(std::move(path), Slot{&row, resolved});
        if (inserted) continue;
        Slot& slot = it->second;
        const bool dash = row.key.starts_with('-');
        const bool stored_dash = slot.row->key.starts_with('-');
        const bool replace = dash != stored_dash ? dash : row.last_updated > slot.row->last_updated;
        slot.resolved = slot.resolved || resolved;
        if (replace) slot.row = &row;
    }
    std::vector<ProjectEntry> entries;
    entries.reserve(by_path.size());
    for (auto& [path, slot] : by_path) entries.push_back({slot.row->key, slot.row->name, path, slot.resolved});
    return entries;
}

Result<std::vector<ProjectEntry>> project_list() {
    auto db = open();
    if (!db) return std::unexpected(std::move(db.error()));
    auto stmt = db->prepare(sql::session_projects);
    if (!stmt) return std::unexpected(std::move(stmt.error()));
    std::vector<SessionRow> rows;
    auto scanned = stmt->each_row([&](const sqlite::Statement& row) {
        auto key = row.text(0);
        auto name = row.text(1);
        auto time = row.real(2);
        if (key && name && time) rows.push_back({std::move(*key), std::move(*name), *time});
    });
    if (!scanned) return std::unexpected(std::move(scanned.error()));
    return merge_projects(rows);
}

Result<std::string> resolve_project_key(std::string_view name) {
    if (name.starts_with('-') || name.starts_with('/')) return std::string(name);
    auto list = project_list();
    if (!list) return std::unexpected(std::move(list.error()));
    std::vector<std::string> keys;
    for (const auto& entry : *list)
        if (equals_ignore_ascii_case(last_component(entry.path), name) || equals_ignore_ascii_case(entry.name, name))
            keys.push_back(entry.key);
    std::ranges::sort(keys);
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    if (keys.size() == 1) return keys.front();
    if (keys.size() > 1) {
        std::string joined;
        for (const auto& key : keys) joined += (joined.empty() ? "" : ", ") + key;
        return std::unexpected("ambiguous project '" + std::string(name) + "': keys " + joined);
    }
    if (name.find('/') != std::string_view::npos || name.find('\\') != std::string_view::npos ||
        name.starts_with('.'))
        return std::unexpected(no_project(name));
    const auto home = fleet::home_dir();
    if (!home) return std::unexpected(no_project(name));
    if (auto key = brief_key(*home / ".wendle/projects" / std::string(name) / "overview.md")) return *key;
    return std::unexpected(no_project(name));
}

Result<std::string> project_root(std::string_view name) {
    auto list = project_list();
    if (!list) return std::unexpected(std::move(list.error()));
    const std::string trimmed = toolport::trim(name);
    for (const auto& entry : *list) {
        if (entry.key != trimmed) continue;
        if (entry.resolved) return entry.path;
        return std::unexpected("project '" + trimmed + "' has no resolvable path on this node");
    }
    std::vector<std::string> paths;
    for (const auto& entry : *list)
        if (entry.resolved && equals_ignore_ascii_case(last_component(entry.path), trimmed))
            paths.push_back(entry.path);
    std::ranges::sort(paths);
    paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
    if (paths.empty())
        return std::unexpected("no project named '" + trimmed + "' with a resolvable path — see project_list");
    if (paths.size() > 1) return std::unexpected("ambiguous project '" + trimmed + "': " + join(paths, ", "));
    return paths.front();
}

namespace {

toolport::ToolOutput project_list_call(const json&) {
    auto list = project_list();
    if (!list) return toolport::ToolOutput::failure(std::move(list.error()));
    json out = json::array();
    for (const auto& entry : *list)
        out.push_back({{"key", entry.key}, {"name", entry.name}, {"path", entry.path}, {"resolved", entry.resolved}});
    return toolport::ToolOutput::success(toolport::dump(out));
}

}  // namespace

toolport::Tool tool_project_list() {
    return toolport::Tool(
        "project_list",
        "List the fleet's known projects: [{key, name, path}]. `key` is the join key everywhere. Ephemeral session "
        "cwds (temp dirs, scratchpads, worktree scratch) are filtered out and paths are resolved against this "
        "machine's filesystem.",
        json{{"type", "object"}, {"properties", json::object()}},
        toolport::inline_handler(project_list_call));
}

}  // namespace ledger
