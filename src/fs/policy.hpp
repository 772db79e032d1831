// The operator's allowlist of readable folders and the judgement of one
// requested path against it.
#pragma once

#include <sys/stat.h>

#include <array>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace fsaccess {

namespace stdfs = std::filesystem;

// Why a request is not served, in the order the fs_read description lists them.
enum class Reason {
    bad_request,
    no_allowlist,
    outside_allowlist,
    denylisted,
    secret_class,
    not_found,
    not_a_file,
    not_a_directory,
    too_large,
    binary_unsupported,
    io_error,
};

inline constexpr std::array all_reasons{
    Reason::bad_request,  Reason::no_allowlist,    Reason::outside_allowlist, Reason::denylisted,
    Reason::secret_class, Reason::not_found,       Reason::not_a_file,        Reason::not_a_directory,
    Reason::too_large,    Reason::binary_unsupported, Reason::io_error,
};

std::string_view reason_code(Reason reason);

struct FsRefusal {
    Reason reason;
    std::string message;      // bad_request, io_error: the message carried
    std::string resolved;     // outside_allowlist, denylisted: the resolved path
    std::uint64_t size = 0;   // too_large: the file's size
    std::uint64_t cap = 0;    // too_large: the per-read cap

    static FsRefusal of(Reason reason) { return FsRefusal{reason, {}, {}, 0, 0}; }
    static FsRefusal with_message(Reason reason, std::string message) {
        return FsRefusal{reason, std::move(message), {}, 0, 0};
    }
};

struct FsPolicy {
    std::vector<stdfs::path> allow;  // canonical, existing
    std::vector<stdfs::path> deny;   // resolved as far as they exist
};

// The allowlist entries as written, before normalisation.
struct AllowlistEntries {
    std::vector<std::string> allow;
    std::vector<std::string> deny;
};

// WENDLE_FS_ALLOW when set and non-empty, else <fleet home>/config/fs-allow.json.
stdfs::path fs_allowlist_path();

// Parses the allowlist text; blank text declares nothing. The failure is the
// problem message for the standard-error line.
std::expected<AllowlistEntries, std::string> parse_allowlist(std::string_view text);

// Tilde-expands and canonicalises allow entries (dropping those that do not
// resolve) and resolves deny entries as far as they exist (keeping them all).
FsPolicy normalise(const AllowlistEntries& entries);

// Reads the allowlist file afresh. Never fails: an unreadable or blank file
// declares nothing, and a malformed one also writes one line to standard error.
FsPolicy fs_policy();

// True when some root equals the path or is its ancestor, by whole components.
bool covers(const std::vector<stdfs::path>& roots, const stdfs::path& path);

// A path that may be served, with the identity of what was found there when
// it was judged (metadata following links).
struct Judged {
    stdfs::path resolved;
    struct stat meta;
};

std::expected<Judged, FsRefusal> fs_resolve(std::string_view requested, const FsPolicy& policy);

}  // namespace fsaccess
