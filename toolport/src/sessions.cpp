#include <toolport/toolport.hpp>

#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid_io.hpp>

namespace toolport {

namespace {

std::string new_session_id() {
    // The generator is not thread-safe: one per thread.
    thread_local boost::uuids::random_generator generate;
    return boost::uuids::to_string(generate());
}

}  // namespace

std::string Toolport::open_session(std::string client) {
    std::string id = new_session_id();
    std::lock_guard lock(mutex_);
    sessions_.emplace(id, Session{std::move(client), clock_()});
    return id;
}

bool Toolport::close_session(const std::string& id) {
    std::lock_guard lock(mutex_);
    return sessions_.erase(id) > 0;
}

bool Toolport::sweep_and_touch(const std::optional<std::string>& id) {
    const auto now = clock_();
    std::lock_guard lock(mutex_);
    std::erase_if(sessions_, [&](const auto& entry) {
        return std::chrono::duration_cast<std::chrono::seconds>(now - entry.second.last_seen) >= idle_limit;
    });
    if (!id) return true;
    auto it = sessions_.find(*id);
    if (it == sessions_.end()) return false;
    it->second.last_seen = now;
    return true;
}

std::size_t Toolport::session_count() const {
    std::lock_guard lock(mutex_);
    return sessions_.size();
}

}  // namespace toolport
