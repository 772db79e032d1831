#include "knowledge/confine.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fleet/os_error.hpp"
#include "fleet/unique_fd.hpp"

namespace knowledge {

bool climbs_out(std::string_view relative) {
    if (relative.starts_with('/')) return true;
    std::size_t start = 0;
    while (start <= relative.size()) {
        std::size_t end = relative.find('/', start);
        if (end == std::string_view::npos) end = relative.size();
        if (relative.substr(start, end - start) == "..") return true;
        start = end + 1;
    }
    return false;
}

bool lies_under(const fs::path& path, const fs::path& root) {
    auto p = path.begin();
    for (auto r = root.begin(); r != root.end(); ++r, ++p) {
        if (r->empty()) continue;  // a trailing separator of the root
        if (p == path.end() || *p != *r) return false;
    }
    return true;
}

std::optional<fs::path> resolve_below(const fs::path& root, const std::string& relative) {
    if (relative.contains('\0')) return std::nullopt;
    std::error_code ec;
    fs::path resolved = fs::canonical(root / relative, ec);
    if (ec) return std::nullopt;
    return resolved;
}

toolport::Result<FileBytes> read_file(const fs::path& path, std::size_t cap) {
    const fleet::UniqueFd file_fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    const int fd = file_fd.get();
    if (fd < 0) return std::unexpected(fleet::os_error_text(errno));

    struct stat st {};
    if (::fstat(fd, &st) != 0) return std::unexpected(fleet::os_error_text(errno));
    if (S_ISDIR(st.st_mode)) return std::unexpected(fleet::os_error_text(EISDIR));
    if (!S_ISREG(st.st_mode)) return std::unexpected(fleet::os_error_text(EINVAL));

    FileBytes file;
    file.size = static_cast<std::size_t>(st.st_size);
    if (file.size > cap) {
        file.over_cap = true;
        return file;
    }
    // Read to the end, whatever the size said: the file may be growing.
    file.bytes.resize(file.size + 1);
    std::size_t used = 0;
    for (;;) {
        if (used == file.bytes.size()) {
            if (used > cap) {
                file.bytes.clear();
                file.size = used;
                file.over_cap = true;
                return file;
            }
            file.bytes.resize(std::max(used * 2, std::size_t{4096}));
        }
        const ssize_t n = ::read(fd, file.bytes.data() + used, file.bytes.size() - used);
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::unexpected(fleet::os_error_text(errno));
        }
        if (n == 0) break;
        used += static_cast<std::size_t>(n);
    }
    file.bytes.resize(used);
    file.size = used;
    return file;
}

}  // namespace knowledge
