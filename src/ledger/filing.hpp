// Filing goals and todos, with the near-duplicate warning.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <toolport/toolport.hpp>

#include "ledger/sqlite.hpp"

namespace ledger {

// The distinct words of a text that carry meaning, sorted: ASCII letters and
// digits, lower case, three bytes or more, no stop words, plurals folded.
std::vector<std::string> similarity_tokens(std::string_view text);

// Jaccard of two sorted token sets, raised to the overlap coefficient once
// they share four tokens or more.
double similarity(const std::vector<std::string>& a, const std::vector<std::string>& b);

// The first 60 characters of a text on one line, trailing white space removed.
std::string item_head(std::string_view text);

// "similar open: FP-xxxxxxxx <head>" for up to three open items of the project
// whose wording overlaps the text by more than one half, best first.
std::vector<std::string> similar_open_lines(sqlite::Connection& db, std::string_view project_key,
                                            std::string_view text);

struct Filed {
    std::string ref;
    std::vector<std::string> warnings;
};

struct FileRequest {
    std::string project_key;  // resolved
    std::string kind;         // "goal" files a goal, anything else a todo
    std::string text;
    std::string criteria;     // goals only
    bool launch = false;
    std::string runner;       // as given; "auto" is stored as ""
};

toolport::Result<Filed> work_file(const FileRequest& request);

// A random version-4 UUID, hyphenated, upper case.
std::string new_row_id();

toolport::Tool tool_work_file();

}  // namespace ledger
