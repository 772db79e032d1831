// Confinement of caller-given relative paths to a root directory, and whole
// text file reads that never block on special files.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include <toolport/toolport.hpp>

namespace knowledge {

namespace fs = std::filesystem;

// True when a caller's relative path is absolute or has a ".." component.
bool climbs_out(std::string_view relative);

// True when `path` is `root` or lies below it, comparing whole components.
// Both must be canonical.
bool lies_under(const fs::path& path, const fs::path& root);

// The canonical form of `relative` joined onto the canonical `root`, or none
// when it does not resolve. A NUL byte never resolves: the system would read
// the path only up to it and find a different file.
std::optional<fs::path> resolve_below(const fs::path& root, const std::string& relative);

struct FileBytes {
    std::string bytes;
    std::size_t size = 0;    // the size found; bytes is empty when it exceeded the cap
    bool over_cap = false;
};

// Reads a regular file whole, or only learns its size when that exceeds
// `cap` bytes. Opening is non-blocking, so a FIFO swapped in after the caller
// checked the path is refused instead of hanging the worker.
toolport::Result<FileBytes> read_file(const fs::path& path, std::size_t cap);

}  // namespace knowledge
