// Serving a judged path: a window of a text file, or one directory level.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include "fleet/unique_fd.hpp"
#include "fs/policy.hpp"

namespace fsaccess {

inline constexpr std::uint64_t read_cap = 262144;
inline constexpr std::int64_t list_default_limit = 200;
inline constexpr std::int64_t list_max_limit = 2000;

struct FsServed {
    std::string resolved;
    std::string text;
    std::uint64_t bytes = 0;  // bytes read from the file; 0 for a listing
};

using FsOutcome = std::expected<FsServed, FsRefusal>;

struct ReadWindow {
    std::uint64_t offset = 0;
    bool limit_passed = false;
    std::uint64_t limit = read_cap;  // within 1..read_cap when passed
    bool windowed = false;           // offset > 0 or a limit passed
};

using fleet::UniqueFd;

// Opens the judged path with `flags`, following no symbolic link in any
// component, and refuses unless the opened object is the one that was judged
// (same device and inode). The failure is the error text.
std::expected<UniqueFd, std::string> open_judged(const Judged& judged, int flags);

FsOutcome fs_read_serve(std::string_view path, const ReadWindow& window, const FsPolicy& policy);
FsOutcome fs_list_serve(std::string_view path, std::int64_t limit, const FsPolicy& policy);

}  // namespace fsaccess
