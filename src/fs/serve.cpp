#include "fs/serve.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <vector>

#include "fleet/os_error.hpp"
#include "fleet/paths.hpp"
#include "fs/text.hpp"

namespace fsaccess {

namespace {

// Directories on the way are opened only to be walked through; O_PATH needs
// no read permission, just like a path lookup.
#if defined(O_PATH)
constexpr int walk_flags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
#elif defined(O_SEARCH)
constexpr int walk_flags = O_SEARCH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
#else
constexpr int walk_flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
#endif

FsRefusal io_error(std::string text) { return FsRefusal::with_message(Reason::io_error, std::move(text)); }

}  // namespace

std::expected<UniqueFd, std::string> open_judged(const Judged& judged, int flags) {
    std::vector<std::string> names;
    for (const auto& part : judged.resolved.relative_path()) {
        if (!part.empty()) names.push_back(part.string());
    }
    if (!judged.resolved.is_absolute()) return std::unexpected(std::string("the path is not absolute"));
    const int final_flags = flags | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
    UniqueFd current(::open("/", names.empty() ? final_flags : walk_flags));
    if (current.get() < 0) return std::unexpected(fleet::os_error_text(errno));
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string& name = names[i];
        // The judged path is fully resolved: a "." or ".." here means it was not.
        if (name == "." || name == "..") return std::unexpected(fleet::os_error_text(ELOOP));
        const bool last = i + 1 == names.size();
        UniqueFd next(::openat(current.get(), name.c_str(), last ? final_flags : walk_flags));
        if (next.get() < 0) return std::unexpected(fleet::os_error_text(errno));
        current = std::move(next);
    }
    struct stat opened {};
    if (::fstat(current.get(), &opened) != 0) return std::unexpected(fleet::os_error_text(errno));
    if (opened.st_dev != judged.meta.st_dev || opened.st_ino != judged.meta.st_ino) {
        return std::unexpected(std::string("the path was replaced after it was checked"));
    }
    return current;
}

FsOutcome fs_read_serve(std::string_view path, const ReadWindow& window, const FsPolicy& policy) {
    auto judged = fs_resolve(path, policy);
    if (!judged) return std::unexpected(judged.error());
    // Only regular files are ever opened: opening a FIFO or a device can
    // block or act on the device.
    if (!S_ISREG(judged->meta.st_mode)) return std::unexpected(FsRefusal::of(Reason::not_a_file));
    auto too_large = [&](std::uint64_t size) -> bool { return !window.windowed && size > read_cap; };
    auto too_large_refusal = [](std::uint64_t size) {
        FsRefusal refusal = FsRefusal::of(Reason::too_large);
        refusal.size = size;
        refusal.cap = read_cap;
        return refusal;
    };
    if (too_large(static_cast<std::uint64_t>(judged->meta.st_size))) {
        return std::unexpected(too_large_refusal(static_cast<std::uint64_t>(judged->meta.st_size)));
    }
    auto file = open_judged(*judged, O_RDONLY);
    if (!file) return std::unexpected(io_error(file.error()));
    struct stat meta {};
    if (::fstat(file->get(), &meta) != 0) return std::unexpected(io_error(fleet::os_error_text(errno)));
    // The file may have grown since it was judged.
    const auto size = static_cast<std::uint64_t>(meta.st_size);
    if (too_large(size)) return std::unexpected(too_large_refusal(size));

    const std::uint64_t length = window.limit_passed ? std::clamp<std::uint64_t>(window.limit, 1, read_cap) : read_cap;
    const std::string resolved = judged->resolved.string();
    // One buffer holds the bytes read and then the whole result: the header
    // and tail are a few dozen bytes beyond the path, and a second large
    // allocation per call costs more than the read itself.
    std::string out;
    std::uint64_t bytes = 0;
    // An offset beyond what the file position can hold cannot be sought to.
    if (window.offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
        return std::unexpected(io_error(fleet::os_error_text(EINVAL)));
    }
    if (window.offset < size) {
        out.reserve(length + resolved.size() + 200);
        out.resize_and_overwrite(length, [](char*, std::size_t n) { return n; });
        while (bytes < length) {
            ssize_t n = ::pread(file->get(), out.data() + bytes, length - bytes,
                                static_cast<off_t>(window.offset + bytes));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return std::unexpected(io_error(fleet::os_error_text(errno)));
            if (n == 0) break;
            bytes += static_cast<std::uint64_t>(n);
        }
        out.resize(bytes);
    }
    const auto text = decode_text_window(out, window.offset > 0);
    if (!text) return std::unexpected(FsRefusal::of(Reason::binary_unsupported));
    const auto kept_from = static_cast<std::size_t>(text->data() - out.data());
    const std::size_t kept = text->size();

    // The header reports the raw byte range read. A character cut by the
    // window's end is left to the next window: the tail points just past the
    // last whole character, so paging on with its offset loses nothing. A
    // window holding no whole character still moves on, past every byte read.
    const std::uint64_t end = window.offset + bytes;
    const std::uint64_t whole = kept_from + kept;
    const std::uint64_t next = window.offset + (whole > 0 ? whole : bytes);
    const std::string header = "==== " + resolved + " (" + std::to_string(size) + " bytes total; served " +
                               std::to_string(window.offset) + ".." + std::to_string(end) + ") ====\n";
    out.erase(kept_from + kept).erase(0, kept_from).insert(0, header);
    if (next < size) {
        out += "\n… " + std::to_string(size - next) + " bytes remain — continue with offset " + std::to_string(next);
    }
    return FsServed{resolved, std::move(out), bytes};
}

namespace {

struct Entry {
    std::string name;
    std::string kind;  // dir, file, symlink, unknown
    std::uint64_t size = 0;
};

std::string kind_of(mode_t mode) {
    if (S_ISDIR(mode)) return "dir";
    if (S_ISLNK(mode)) return "symlink";
    return "file";
}

}  // namespace

FsOutcome fs_list_serve(std::string_view path, std::int64_t limit, const FsPolicy& policy) {
    auto judged = fs_resolve(path, policy);
    if (!judged) return std::unexpected(judged.error());
    if (!S_ISDIR(judged->meta.st_mode)) return std::unexpected(FsRefusal::of(Reason::not_a_directory));
    auto opened = open_judged(*judged, O_RDONLY | O_DIRECTORY);
    if (!opened) return std::unexpected(io_error(opened.error()));
    DIR* dir = ::fdopendir(opened->get());
    if (dir == nullptr) return std::unexpected(io_error(fleet::os_error_text(errno)));
    opened->release();  // the stream owns it now
    const int dir_fd = ::dirfd(dir);

    std::vector<Entry> entries;
    while (const dirent* item = ::readdir(dir)) {
        const std::string_view raw = item->d_name;
        if (raw == "." || raw == "..") continue;
        Entry entry{fleet::utf8_lossy(raw), "unknown", 0};
        // The entry's own type; links are never followed.
        struct stat meta {};
        bool have_meta = false;
        switch (item->d_type) {
            case DT_DIR: entry.kind = "dir"; break;
            case DT_LNK: entry.kind = "symlink"; break;
            case DT_UNKNOWN:
                have_meta = ::fstatat(dir_fd, item->d_name, &meta, AT_SYMLINK_NOFOLLOW) == 0;
                if (have_meta) entry.kind = kind_of(meta.st_mode);
                break;
            default: entry.kind = "file"; break;
        }
        if (entry.kind == "file") {
            if (!have_meta) have_meta = ::fstatat(dir_fd, item->d_name, &meta, AT_SYMLINK_NOFOLLOW) == 0;
            if (have_meta) entry.size = static_cast<std::uint64_t>(meta.st_size);
        }
        entries.push_back(std::move(entry));
    }
    ::closedir(dir);

    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
    const std::size_t total = entries.size();
    const auto kept = std::min<std::size_t>(total, static_cast<std::size_t>(std::clamp<std::int64_t>(limit, 1, list_max_limit)));
    const std::string resolved = judged->resolved.string();
    std::string out = resolved + " (" + std::to_string(total) + " entries)\n";
    for (std::size_t i = 0; i < kept; ++i) {
        const Entry& entry = entries[i];
        if (entry.kind == "dir") {
            out += entry.name + "/\n";
        } else if (entry.kind == "file") {
            out += entry.name + "\t" + std::to_string(entry.size) + "\n";
        } else {
            out += entry.name + "\t[" + entry.kind + "]\n";
        }
    }
    if (total > kept) out += "… truncated at " + std::to_string(kept) + " — raise limit\n";
    return FsServed{resolved, std::move(out), 0};
}

}  // namespace fsaccess
