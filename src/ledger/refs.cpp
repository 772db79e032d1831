#include "ledger/refs.hpp"

#include <algorithm>

#include "ledger/store.hpp"
#include "ledger/text.hpp"

namespace ledger {

std::string work_ref(std::string_view id) {
    std::string ref = "FP-";
    for (char c : id) {
        if (ref.size() == 11) break;
        if (is_ascii_alnum(c)) ref += ascii_upper(c);
    }
    return ref;
}

toolport::Result<std::optional<std::string>> match_ref(const std::vector<std::string>& ids, std::string_view ref) {
    std::string_view rest = ref;
    while (rest.starts_with("FP-")) rest.remove_prefix(3);
    while (rest.starts_with("fp-")) rest.remove_prefix(3);
    const std::string query = to_ascii_upper(rest);
    // An empty query is a prefix of every id: it names the only row of a
    // one-row table and is ambiguous otherwise.

    for (const auto& id : ids)
        if (id.size() == ref.size() && equals_ignore_ascii_case(id, ref)) return id;

    std::vector<const std::string*> matches;
    for (const auto& id : ids) {
        std::string bare;
        bare.reserve(id.size());
        for (char c : id)
            if (c != '-') bare += ascii_upper(c);
        if (std::string_view(work_ref(id)).substr(3) == query || bare.starts_with(query)) matches.push_back(&id);
    }
    if (matches.empty()) return std::optional<std::string>{};
    if (matches.size() == 1) return std::optional<std::string>{*matches.front()};
    return std::unexpected("ambiguous ref '" + std::string(ref) + "' matches " + std::to_string(matches.size()) +
                           " items");
}

toolport::Result<std::optional<std::string>> resolve_ref(sqlite::Connection& db, std::string_view table,
                                                         std::string_view ref) {
    auto stmt = db.prepare(std::string(sql::ids_from) + std::string(table));
    if (!stmt) return std::unexpected(std::move(stmt.error()));
    std::vector<std::string> ids;
    auto scanned = stmt->each_row([&](const sqlite::Statement& row) {
        if (auto id = row.text(0)) ids.push_back(std::move(*id));
    });
    if (!scanned) return std::unexpected(std::move(scanned.error()));
    return match_ref(ids, ref);
}

}  // namespace ledger
