// The fleet's projects: the list built from the ledger's sessions table, each
// key turned into a directory of this machine, and name resolution on top.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include <toolport/toolport.hpp>

namespace ledger {

// The repository directory of a project named by key or by the last component
// of its directory, or the failure text.
toolport::Result<std::string> project_root(std::string_view name);

struct ProjectEntry {
    std::string key;
    std::string name;  // the sessions' project name, or ""
    std::string path;  // the directory this machine associates with the key
    bool resolved = false;  // the directory was confirmed to exist
};

// One row of the sessions query: a key, its name and its latest activity.
struct SessionRow {
    std::string key;
    std::string name;
    double last_updated = 0;
};

// Temp dirs, scratchpads and worktree scratch, judged on the text alone.
bool is_ephemeral_path(std::string_view path);

// The directory under `base` whose successive components are formed from the
// first `count` tokens, one component possibly being several tokens joined by
// "-", ".", "_" or " ". Empty when there is none.
std::string resolve_toks(const std::string& base, const std::vector<std::string>& tokens, std::size_t count);

// Merges session rows into the project list: filters ephemeral paths, maps
// keys to directories, keeps one entry per path, sorted by path.
std::vector<ProjectEntry> merge_projects(const std::vector<SessionRow>& rows);

// The project list from the ledger, or the failure text.
toolport::Result<std::vector<ProjectEntry>> project_list();

// A plain project name (or a key, returned unchanged) to its project key.
toolport::Result<std::string> resolve_project_key(std::string_view name);

toolport::Tool tool_project_list();

}  // namespace ledger
