#include "fs/policy.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include <toolport/toolport.hpp>

#include "fleet/paths.hpp"
#include "fs/secret.hpp"

namespace fsaccess {

using toolport::json;

std::string_view reason_code(Reason reason) {
    switch (reason) {
        case Reason::bad_request: return "bad_request";
        case Reason::no_allowlist: return "no_allowlist";
        case Reason::outside_allowlist: return "outside_allowlist";
        case Reason::denylisted: return "denylisted";
        case Reason::secret_class: return "secret_class";
        case Reason::not_found: return "not_found";
        case Reason::not_a_file: return "not_a_file";
        case Reason::not_a_directory: return "not_a_directory";
        case Reason::too_large: return "too_large";
        case Reason::binary_unsupported: return "binary_unsupported";
        case Reason::io_error: return "io_error";
    }
    return "io_error";
}

stdfs::path fs_allowlist_path() {
    if (const char* value = std::getenv("WENDLE_FS_ALLOW"); value != nullptr && *value != '\0') {
        return value;
    }
    return fleet::fleet_home() / "config" / "fs-allow.json";
}

std::expected<AllowlistEntries, std::string> parse_allowlist(std::string_view text) {
    if (toolport::trim(text).empty()) return AllowlistEntries{};
    json doc;
    try {
        doc = json::parse(text);
    } catch (const json::exception& error) {
        return std::unexpected("not valid JSON (" + std::string(error.what()) + ")");
    }
    AllowlistEntries entries;
    if (doc.is_array()) {
        auto allow = fleet::path_strings(doc, "the root array");
        if (!allow) return std::unexpected(allow.error());
        entries.allow = std::move(*allow);
        return entries;
    }
    if (doc.is_object()) {
        // Members iterate in ascending byte order of their names.
        for (const auto& [name, value] : doc.items()) {
            if (name != "allow" && name != "deny") {
                return std::unexpected("unknown key '" + name +
                                       "' — the object form is {\"allow\":[…],\"deny\":[…]}");
            }
        }
        if (!doc.contains("allow")) return std::unexpected(std::string("the object form needs an \"allow\" array"));
        if (doc.contains("deny")) {
            auto deny = fleet::path_strings(doc["deny"], "\"deny\"");
            if (!deny) return std::unexpected(deny.error());
            entries.deny = std::move(*deny);
        }
        auto allow = fleet::path_strings(doc["allow"], "\"allow\"");
        if (!allow) return std::unexpected(allow.error());
        entries.allow = std::move(*allow);
        return entries;
    }
    return std::unexpected(std::string("expected a JSON array of paths, or {\"allow\":[…],\"deny\":[…]}"));
}

FsPolicy normalise(const AllowlistEntries& entries) {
    FsPolicy policy;
    for (const auto& entry : entries.allow) {
        std::error_code ec;
        auto canonical = stdfs::canonical(fleet::expand_tilde(entry), ec);
        if (!ec) policy.allow.push_back(std::move(canonical));
    }
    for (const auto& entry : entries.deny) {
        policy.deny.push_back(fleet::resolve_canonical(fleet::expand_tilde(entry)));
    }
    return policy;
}

namespace {

// The whole file as text, or nothing when it is missing, not a regular file
// or unreadable. Opened without blocking, so a FIFO placed there cannot stall
// the worker.
std::optional<std::string> read_regular_file(const stdfs::path& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    struct stat meta {};
    if (::fstat(fd, &meta) != 0 || !S_ISREG(meta.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    std::string text;
    char buffer[16384];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return text;
}

void report_problem(const stdfs::path& file, const std::string& problem) {
    // One write, so lines from concurrent calls never interleave.
    std::string line = "velmora-mcp: " + file.string() + " is " + problem + " — refusing every path\n";
    std::size_t done = 0;
    while (done < line.size()) {
        ssize_t n = ::write(STDERR_FILENO, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

// The path's components, without the empty one a trailing separator leaves.
std::vector<stdfs::path> components(const stdfs::path& path) {
    std::vector<stdfs::path> parts;
    for (const auto& part : path) {
        if (!part.empty()) parts.push_back(part);
    }
    return parts;
}

}  // namespace

FsPolicy fs_policy() {
    const auto file = fs_allowlist_path();
    auto text = read_regular_file(file);
    if (!text || !toolport::valid_utf8(*text)) return {};
    auto entries = parse_allowlist(*text);
    if (!entries) {
        report_problem(file, entries.error());
        return {};
    }
    return normalise(*entries);
}

bool covers(const std::vector<stdfs::path>& roots, const stdfs::path& path) {
    const auto target = components(path);
    for (const auto& root : roots) {
        const auto prefix = components(root);
        if (prefix.empty() || prefix.size() > target.size()) continue;
        bool match = true;
        for (std::size_t i = 0; i < prefix.size() && match; ++i) match = prefix[i] == target[i];
        if (match) return true;
    }
    return false;
}

std::expected<Judged, FsRefusal> fs_resolve(std::string_view requested, const FsPolicy& policy) {
    const std::string trimmed = toolport::trim(requested);
    if (trimmed.empty()) return std::unexpected(FsRefusal::with_message(Reason::bad_request, "path is required"));
    if (policy.allow.empty()) return std::unexpected(FsRefusal::of(Reason::no_allowlist));
    const stdfs::path expanded = fleet::expand_tilde(trimmed);
    if (!expanded.is_absolute()) {
        return std::unexpected(FsRefusal::with_message(
            Reason::bad_request, "'" + std::string(requested) + "' must be an absolute path (or start with ~/)"));
    }
    stdfs::path resolved = fleet::resolve_canonical(expanded);
    if (covers(policy.deny, resolved)) {
        FsRefusal refusal = FsRefusal::of(Reason::denylisted);
        refusal.resolved = resolved.string();
        return std::unexpected(std::move(refusal));
    }
    if (!covers(policy.allow, resolved)) {
        FsRefusal refusal = FsRefusal::of(Reason::outside_allowlist);
        refusal.resolved = resolved.string();
        return std::unexpected(std::move(refusal));
    }
    // The rule looks at bytes only, so a name that is not valid UTF-8 is
    // judged as it stands rather than passed over.
    if (is_secret_file(resolved.filename().native())) return std::unexpected(FsRefusal::of(Reason::secret_class));
    Judged judged{resolved, {}};
    if (::stat(resolved.c_str(), &judged.meta) != 0) return std::unexpected(FsRefusal::of(Reason::not_found));
    return judged;
}

}  // namespace fsaccess
