// Ledger tools on a large ledger: 10 000 goals and 10 000 todos across 200
// projects, and 500 session keys for the project list. Each call opens its
// own connection, as in the server. Reports the median and p99 per call.
#include <algorithm>
#include <chrono>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/use_future.hpp>

#include "ledger/claims.hpp"
#include "ledger/companion_schema.hpp"
#include "ledger/filing.hpp"
#include "ledger/listing.hpp"
#include "ledger/projects.hpp"
#include "unit/ledger/ledger_scratch.hpp"

namespace {

using namespace ledger_test;
using toolport::json;

constexpr int project_count = 200;
constexpr int goals_per_project = 50;
constexpr int todos_per_project = 50;
constexpr int session_keys = 500;

const char* const words[] = {"checkout", "login",  "payment", "cache",   "render", "index",  "search", "upload",
                             "invoice",  "report", "session", "metrics", "deploy", "config", "schema", "migrate",
                             "button",   "layout", "export",  "import",  "token",  "refresh", "retry", "timeout",
                             "parser",   "queue",  "worker",  "backup",  "restore", "webhook", "email", "locale"};

std::string sentence(std::mt19937& random, int length) {
    std::uniform_int_distribution<std::size_t> pick(0, std::size(words) - 1);
    const char* const verbs[] = {"Fix", "Add", "Remove", "Speed up", "Document", "Test"};
    std::string text = verbs[random() % std::size(verbs)];
    for (int i = 0; i < length; ++i) text += std::string(" ") + words[pick(random)];
    return text;
}

// The ledger and project directories, built once for all benchmarks.
struct Ledger {
    ScratchDir scratch;
    EnvGuard env;
    fs::path file;
    std::vector<std::string> keys;   // the 200 projects' dash keys
    std::vector<std::string> names;  // their directory names

    Ledger() {
        file = scratch.path() / "ledger.db";
        if (auto created = ledger::create_companion_ledger(file.string()); !created) throw std::runtime_error(created.error());
        std::mt19937 random(7);
        auto db = connect(file);
        (void)db.exec("BEGIN");
        auto goal = db.prepare("INSERT INTO project_goals (id, project_key, text, done, status, sort, created_at, "
                               "acceptance_criteria, target_host, claimed_by_node) VALUES (?1, ?2, ?3, ?4, ?5, 0, ?6, "
                               "'criteria', ?7, ?8)");
        auto todo = db.prepare("INSERT INTO project_todos (id, project_key, text, status, source, sort, created_at) "
                               "VALUES (?1, ?2, ?3, ?4, 'bench', 0, ?5)");
        auto session = db.prepare("INSERT INTO sessions (id, project_key, project_name, last_updated_at) VALUES (?1, ?2, ?3, ?4)");
        for (int p = 0; p < project_count; ++p) {
            const std::string name = "proj-" + std::string(1, static_cast<char>('a' + p % 26)) + "-svc" +
                                     std::string(1, static_cast<char>('a' + p / 26));
            const fs::path dir = scratch.dir("src/team-" + std::to_string(p % 8) + "x/" + name);
            keys.push_back(dash_key(dir));
            names.push_back(name);
            for (int i = 0; i < goals_per_project; ++i) {
                goal->reset();
                const int state = i % 5;  // a fifth of the goals are met
                (void)goal->bind_text(1, ledger::new_row_id());
                (void)goal->bind_text(2, keys.back());
                (void)goal->bind_text(3, sentence(random, 6 + i % 6));
                (void)goal->bind_int64(4, state == 0 ? 1 : 0);
                (void)goal->bind_text(5, state == 0 ? "met" : state == 1 ? "in_progress" : "open");
                (void)goal->bind_double(6, 1.7e9 + i);
                (void)goal->bind_text(7, state == 2 ? "studio" : "");
                (void)goal->bind_text(8, state == 1 ? "peer" : "");
                (void)goal->run();
            }
            for (int i = 0; i < todos_per_project; ++i) {
                todo->reset();
                (void)todo->bind_text(1, ledger::new_row_id());
                (void)todo->bind_text(2, keys.back());
                (void)todo->bind_text(3, sentence(random, 4 + i % 5));
                (void)todo->bind_text(4, i % 4 == 0 ? "done" : "open");
                (void)todo->bind_double(5, 1.7e9 + i);
                (void)todo->run();
            }
        }
        // 500 session keys: the 200 projects (some with several sessions),
        // keys of directories that are gone, foreign homes and scratch dirs.
        for (int s = 0; s < session_keys; ++s) {
            std::string key;
            if (s < project_count) key = keys[s];
            else if (s < 300) key = dash_key(scratch.path() / ("gone/old-project-" + std::to_string(s) + "x"));
            else if (s < 400) key = "-home-peer-src-remote-app-" + std::to_string(s) + "x";
            else if (s < 450) key = "-tmp-scratch-" + std::to_string(s);
            else key = dash_key(scratch.path() / ("src/team-1x/wf_" + std::to_string(s)));
            session->reset();
            (void)session->bind_text(1, "s" + std::to_string(s));
            (void)session->bind_text(2, key);
            (void)session->bind_text(3, "Project " + std::to_string(s));
            (void)session->bind_double(4, 1.7e9 + s);
            (void)session->run();
        }
        if (auto committed = db.exec("COMMIT"); !committed) throw std::runtime_error(committed.error());
        fs::create_directories(scratch.path() / "home");
    }


    // Points the ledger tools at this ledger.
    Ledger& use() {
        env.set("WENDLE_LEDGER", file.string());
        env.set("HOME", (scratch.path() / "home").string());
        return *this;
    }
};

Ledger& shared_ledger() {
    static Ledger ledger;
    return ledger.use();
}

toolport::ToolOutput call(boost::asio::io_context& io, const toolport::Tool& tool, json args) {
    auto result = boost::asio::co_spawn(io, (*tool.handler)(std::move(args)), boost::asio::use_future);
    io.restart();
    io.run();
    return result.get();
}

// Times each call and reports the median and the 99th percentile.
template <class Call>
void per_call(benchmark::State& state, Call&& one_call) {
    std::vector<double> micros;
    std::size_t i = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        auto out = one_call(i++);
        const auto end = std::chrono::steady_clock::now();
        if (out.is_error) {
            state.SkipWithError(out.text.c_str());
            break;
        }
        benchmark::DoNotOptimize(out);
        micros.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    }
    if (micros.empty()) return;
    std::ranges::sort(micros);
    const auto at = [&](double q) { return micros[std::min(micros.size() - 1, static_cast<std::size_t>(q * micros.size()))]; };
    state.counters["median_us"] = at(0.5);
    state.counters["p99_us"] = at(0.99);
}

void BM_WorkListByKey(benchmark::State& state) {
    auto& ledger = shared_ledger();
    boost::asio::io_context io;
    const auto tool = ledger::tool_work_list();
    per_call(state, [&](std::size_t i) { return call(io, tool, {{"project_key", ledger.keys[i % project_count]}}); });
}

void BM_WorkListByName(benchmark::State& state) {
    auto& ledger = shared_ledger();
    boost::asio::io_context io;
    const auto tool = ledger::tool_work_list();
    per_call(state, [&](std::size_t i) { return call(io, tool, {{"project_key", ledger.names[i % project_count]}}); });
}

void BM_WorkFile(benchmark::State& state) {
    auto& ledger = shared_ledger();
    boost::asio::io_context io;
    const auto tool = ledger::tool_work_file();
    std::mt19937 random(11);
    per_call(state, [&](std::size_t i) {
        return call(io, tool, {{"project_key", ledger.keys[i % project_count]}, {"kind", i % 2 ? "goal" : "todo"},
                               {"text", sentence(random, 7)}});
    });
}

void BM_ProjectList(benchmark::State& state) {
    shared_ledger();
    boost::asio::io_context io;
    const auto tool = ledger::tool_project_list();
    per_call(state, [&](std::size_t) { return call(io, tool, json::object()); });
}

}  // namespace

BENCHMARK(BM_WorkListByKey)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WorkListByName)->Unit(benchmark::kMillisecond);
// Wall time is mostly the insert's journal fsyncs; CPU time is the call's own work.
BENCHMARK(BM_WorkFile)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ProjectList)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
