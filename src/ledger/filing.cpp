#include "ledger/filing.hpp"

#include <algorithm>
#include <array>

#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid_io.hpp>

#include "fleet/paths.hpp"
#include "ledger/projects.hpp"
#include "ledger/refs.hpp"
#include "ledger/store.hpp"
#include "ledger/text.hpp"

namespace ledger {

using toolport::json;
using toolport::ToolOutput;

namespace {

constexpr std::array<std::string_view, 75> stop_words = {
    "about", "after", "again", "all", "already", "also", "and", "any", "are", "been", "before", "being", "both",
    "but", "can", "could", "did", "does", "done", "each", "few", "for", "from", "had", "has", "have", "here",
    "how", "into", "its", "just", "may", "more", "most", "not", "now", "off", "once", "only", "other", "our",
    "out", "over", "own", "same", "shall", "should", "some", "still", "such", "than", "that", "the", "their",
    "them", "then", "there", "these", "this", "those", "too", "under", "very", "via", "was", "were", "when",
    "where", "why", "will", "with", "without", "would", "you", "your"};

bool is_stop_word(std::string_view word) { return std::ranges::binary_search(stop_words, word); }

}  // namespace

std::vector<std::string> similarity_tokens(std::string_view text) {
    std::vector<std::string> tokens;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && !is_ascii_alnum(text[i])) ++i;
        const std::size_t start = i;
        while (i < text.size() && is_ascii_alnum(text[i])) ++i;
        if (i - start < 3) continue;
        std::string word = to_ascii_lower(text.substr(start, i - start));
        if (is_stop_word(word)) continue;
        if (word.size() > 3 && word.ends_with('s') && !word.ends_with("ss")) word.pop_back();
        tokens.push_back(std::move(word));
    }
    std::ranges::sort(tokens);
    tokens.erase(std::unique(tokens.begin(), tokens.end()), tokens.end());
    return tokens;
}

double similarity(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    if (a.empty() || b.empty()) return 0;
    std::size_t shared = 0;
    for (auto x = a.begin(), y = b.begin(); x != a.end() && y != b.end();) {
        if (*x < *y) {
            ++x;
        } else if (*y < *x) {
            ++y;
        } else {
            ++shared, ++x, ++y;
        }
    }
    if (shared == 0) return 0;
    const double s = static_cast<double>(shared);
    double score = s / static_cast<double>(a.size() + b.size() - shared);
    if (shared >= 4) score = std::max(score, s / static_cast<double>(std::min(a.size(), b.size())));
    return score;
}

std::string item_head(std::string_view text) {
    std::string head;
    std::size_t chars = 0;
    for (char c : text) {
        const bool starts_char = (static_cast<unsigned char>(c) & 0xC0) != 0x80;
        if (starts_char && ++chars > 60) break;
        head += (c == '\n' || c == '\r') ? ' ' : c;
    }
    // Drop trailing white space only: the trimmed text starts where the
    // leading white space ends.
    const std::string trimmed = toolport::trim(head);
    if (trimmed.empty()) return {};
    return head.substr(0, head.find(trimmed) + trimmed.size());
}

std::vector<std::string> similar_open_lines(sqlite::Connection& db, std::string_view project_key,
                                            std::string_view text) {
    const auto mine = similarity_tokens(text);
    if (mine.empty()) return {};
    auto stmt = db.prepare(sql::open_items);
    if (!stmt || !stmt->bind_text(1, project_key)) return {};
    struct Hit {
        double score;
        std::string line;
    };
    std::vector<Hit> hits;
    // A scan that fails part-way keeps what it saw: the warning is advisory.
    (void)stmt->each_row([&](const sqlite::Statement& row) {
        auto id = row.text(0);
        auto item = row.text(1);
        if (!id || !item) return;
        const double score = similarity(mine, similarity_tokens(*item));
        if (score > 0.5) hits.push_back({score, "similar open: " + work_ref(*id) + " " + item_head(*item)});
    });
    std::ranges::stable_sort(hits, [](const Hit& a, const Hit& b) { return a.score > b.score; });
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < hits.size() && i < 3; ++i) lines.push_back(std::move(hits[i].line));
    return lines;
}

std::string new_row_id() {
    thread_local boost::uuids::random_generator generate;
    return to_ascii_upper(boost::uuids::to_string(generate()));
}

toolport::Result<Filed> work_file(const FileRequest& request) {
    auto db = open();
    if (!db) return std::unexpected(std::move(db.error()));
    Filed filed;
    filed.warnings = similar_open_lines(*db, request.project_key, request.text);

    const std::string id = new_row_id();
    const fleet::Now now = fleet::now();
    const std::string node = this_node(*db);
    const bool goal = request.kind == "goal";

    auto stmt = db->prepare(goal ? sql::insert_goal : sql::insert_todo);
    if (!stmt) return std::unexpected(std::move(stmt.error()));
    auto bound = goal ? sqlite::first_failure(stmt->bind_text(1, id), stmt->bind_text(2, request.project_key),
                                              stmt->bind_text(3, request.text), stmt->bind_double(4, now.seconds),
                                              stmt->bind_text(5, request.criteria), stmt->bind_text(6, node),
                                              stmt->bind_text(7, request.launch ? node : ""),
                                              stmt->bind_text(8, request.launch && request.runner != "auto"
                                                                     ? request.runner
                                                                     : ""))
                      : sqlite::first_failure(stmt->bind_text(1, id), stmt->bind_text(2, request.project_key),
                                              stmt->bind_text(3, request.text), stmt->bind_double(4, now.seconds),
                                              stmt->bind_text(5, node), stmt->bind_text(6, now.rfc3339));
    if (!bound) return std::unexpected(std::move(bound.error()));
    if (auto inserted = stmt->run(); !inserted) return std::unexpected(std::move(inserted.error()));
    filed.ref = work_ref(id);
    return filed;
}

namespace {

ToolOutput file_call(const json& args) {
    const auto key = toolport::str(args, "project_key");
    const auto text = toolport::str(args, "text");
    const auto kind = toolport::str(args, "kind");
    if (!key || key->empty() || !text || text->empty() || !kind || (*kind != "goal" && *kind != "todo"))
        return ToolOutput::failure("project_key, text, and kind (goal|todo) are required");
    auto resolved = resolve_project_key(*key);
    if (!resolved) return ToolOutput::failure(std::move(resolved.error()));

    FileRequest request{*resolved, *kind, *text, "", toolport::flag(args, "launch"),
                        toolport::str(args, "runner").value_or("auto")};
    if (*kind == "goal") request.criteria = toolport::str(args, "criteria").value_or("");
    if (request.launch) {
        if (*kind != "goal")
            return ToolOutput::failure(
                "launch requires kind=goal — todos carry no dispatch routing; file the work as a goal "
                "(criteria recommended)");
        if (request.runner != "auto" && request.runner != "wezterm" && request.runner != "velmora")
            return ToolOutput::failure("runner '" + request.runner +
                                       "' is not a known terminal — expected auto, wezterm, or velmora");
        if (auto root = project_root(request.project_key); !root)
            return ToolOutput::failure("cannot dispatch: " + root.error());
    }

    auto filed = work_file(request);
    if (!filed) return ToolOutput::failure(std::move(filed.error()));
    std::string reply;
    if (request.launch) {
        reply = "filed goal " + filed->ref + "; agent dispatch queued on this node (runner=" + request.runner +
                ") — wendled claims it and opens a Claude session in the repo within ~5s" +
                (request.runner == "velmora" ? " (in the app's terminal, or a wezterm pane if the app is closed)"
                                             : "");
    } else {
        reply = "filed " + *kind + " " + filed->ref;
    }
    for (const auto& line : filed->warnings) reply += "\n" + line;
    return ToolOutput::success(std::move(reply));
}

}  // namespace

toolport::Tool tool_work_file() {
    const json runner_enum = json::array({"auto", "wezterm", "velmora"});
    json schema = {
        {"type", "object"},
        {"required", json::array({"project_key", "kind", "text"})},
        {"properties",
         {{"project_key", {{"type", "string"}}},
          {"kind", {{"type", "string"}, {"enum", json::array({"goal", "todo"})}}},
          {"text", {{"type", "string"}}},
          {"criteria",
           {{"type", "string"}, {"description", "goal acceptance (optional, strongly recommended when launching)"}}},
          {"launch", {{"type", "boolean"}, {"description", "dispatch an agent for this goal on the Mac"}}},
          {"runner",
           {{"type", "string"},
            {"enum", runner_enum},
            {"description",
             "terminal the launched agent opens in. auto|wezterm = an external wezterm pane (one window, a tab per "
             "repo). velmora = a tab in the Velmora app's own terminal, falling back to wezterm when the app is "
             "closed. Routed PER GOAL, so one machine serves both."}}}}}};
    return toolport::Tool(
        "work_file",
        "File a new goal or todo for a project. Returns 'filed goal FP-xxxxxxxx'. Federates to the other machine. Set "
        "launch:true (goals only) to DISPATCH AN AGENT on the Mac: wendled claims the goal and starts a Claude "
        "session in the project's repo with the goal text + criteria as its brief. Track progress via work_list (the "
        "claim) and work_done (closure). If open work in the project reads like a restatement of this text, the "
        "response appends 'similar open: FP-xxxxxxxx <text>' lines — a WARNING only; the item is still filed.",
        std::move(schema), toolport::inline_handler(file_call));
}

}  // namespace ledger
