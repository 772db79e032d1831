// Vault search over an index of 20 000 notes, and the repository listing of
// a 50 000-file tree capped at 4000 entries (against the uncapped walk, to
// show that the capped walk stops reading the disk early). Each benchmark
// reports the median and 99th percentile of single calls as counters.
#include <benchmark/benchmark.h>

#include "timing.hpp"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "knowledge/repo.hpp"
#include "knowledge/vault.hpp"
#include "knowledge/vault_index.hpp"
#include "ledger/sqlite.hpp"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// One scratch folder for the whole run, removed at exit.
struct Scratch {
    fs::path path;
    Scratch() {
        std::string pattern = (fs::temp_directory_path() / "knowledge-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) std::abort();
        path = pattern;
    }
    ~Scratch() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

Scratch& scratch() {
    static Scratch s;
    return s;
}

std::vector<std::string> vocabulary() {
    std::vector<std::string> words;
    std::mt19937 rng(7);
    const std::string letters = "abcdefghijklmnopqrstuvwxyz";
    for (int i = 0; i < 5000; ++i) {
        std::string word;
        const int length = 3 + static_cast<int>(rng() % 8);
        for (int k = 0; k < length; ++k) word += letters[rng() % letters.size()];
        words.push_back(word);
    }
    return words;
}

// HOME/.claude/velmora-cache/vault-index.db with 20 000 notes of 200 words
// drawn from a 5000-word vocabulary with a skewed distribution.
void build_index() {
    static bool built = false;
    if (built) return;
    built = true;
    const fs::path home = scratch().path / "home";
    ::setenv("HOME", home.c_str(), 1);
    const fs::path index = knowledge::vault_index_path();
    fs::create_directories(index.parent_path());
    auto db = sqlite::Connection::open(index.string(), sqlite::read_write | sqlite::create);
    if (!db || !knowledge::create_vault_index(*db) || !db->exec("BEGIN")) std::abort();
    const auto words = vocabulary();
    std::mt19937 rng(11);
    std::geometric_distribution<int> pick(0.002);
    for (int n = 0; n < 20000; ++n) {
        std::string body = "# Note " + std::to_string(n) + "\n\n";
        for (int w = 0; w < 200; ++w) body += words[std::min<int>(pick(rng), 4999)] + (w % 15 == 14 ? ".\n" : " ");
        const std::string path = "Folder" + std::to_string(n % 40) + "/note" + std::to_string(n) + ".md";
        if (!knowledge::put_vault_note(*db, knowledge::vault_note(path, body))) std::abort();
    }
    if (!db->exec("COMMIT")) std::abort();
}

// A 50 000-file repository: 50 folders of 10 subfolders of 100 files, plus
// a node_modules folder the walk must pass over.
const fs::path& big_repo() {
    static const fs::path repo = [] {
        const fs::path root = scratch().path / "repo";
        for (int a = 0; a < 50; ++a) {
            for (int b = 0; b < 10; ++b) {
                const fs::path dir = root / ("pkg" + std::to_string(a)) / ("mod" + std::to_string(b));
                fs::create_directories(dir);
                for (int f = 0; f < 100; ++f) std::ofstream(dir / ("file" + std::to_string(f) + ".rs"));
            }
        }
        fs::create_directories(root / "node_modules" / "dep");
        for (int f = 0; f < 1000; ++f) std::ofstream(root / "node_modules" / "dep" / ("m" + std::to_string(f)));
        return root;
    }();
    return repo;
}

using bench::timed;

// The query of each case: the most common word, two common words, a title,
// one-letter prefixes (matching nearly every note), and no match.
std::string query_for(std::int64_t which) {
    static const auto words = vocabulary();
    switch (which) {
        case 0: return words[0];
        case 1: return words[0] + " " + words[1];
        case 2: return "Note 12345";
        case 3: return "a b";
        default: return "zzzzzzzzzzzz";
    }
}

void VaultSearch(benchmark::State& state) {
    build_index();
    const std::string query = query_for(state.range(0));
    std::size_t hits = 0;
    timed(state, [&] {
        auto result = knowledge::vault_search(query, 10);
        if (!result) state.SkipWithError(result.error().c_str());
        hits = result ? result->size() : 0;
        benchmark::DoNotOptimize(result);
    });
    state.counters["hits"] = static_cast<double>(hits);
}

void ProjectTree(benchmark::State& state) {
    const std::string root = big_repo().string();
    const auto limit = state.range(0);
    std::size_t length = 0;
    timed(state, [&] {
        const std::string text = knowledge::tree_text(root, 12, limit);
        length = text.size();
        benchmark::DoNotOptimize(text);
    });
    state.counters["bytes"] = static_cast<double>(length);
}

BENCHMARK(VaultSearch)->DenseRange(0, 4)->Unit(benchmark::kMicrosecond);
// 4000 is the tool's cap; the larger limit walks all 50 000 files.
BENCHMARK(ProjectTree)->Arg(4000)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
