// fs_read of a 256 KiB text file and fs_list of a 2000-entry folder, each a
// whole tool call (allowlist read, judgement, serving, audit append), on 1
// and 8 threads at once. Next to them the floor: the same file read and the
// same folder listed with plain system calls in-process, and the cat and ls
// commands run as processes. Each benchmark reports calls per second and the
// median and 99th percentile of single calls.
#include <benchmark/benchmark.h>

#include "timing.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fs/audit.hpp"
#include "fs/policy.hpp"
#include "fs/serve.hpp"

extern char** environ;

namespace {

namespace stdfs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Scratch {
    stdfs::path path;
    stdfs::path file;    // 262144 bytes of text
    stdfs::path folder;  // 2000 entries
    Scratch() {
        std::string pattern = (stdfs::temp_directory_path() / "fs-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) std::abort();
        path = stdfs::canonical(pattern);
        const stdfs::path served = path / "served";
        file = served / "notes.txt";
        folder = served / "many";
        stdfs::create_directories(folder);
        {
            std::ofstream out(file, std::ios::binary);
            std::string line = "the quick brown fox jumps over the lazy dog — naïve café 0123456789\n";
            std::string text;
            while (text.size() < 262144) text += line;
            text.resize(262144);
            text.back() = '\n';
            out << text;
        }
        for (int i = 0; i < 2000; ++i) {
            const auto name = "entry-" + std::to_string(i);
            if (i % 10 == 0) {
                stdfs::create_directory(folder / name);
            } else {
                std::ofstream(folder / (name + ".txt")) << name;
            }
        }
        std::ofstream(path / "allow.json") << "[\"" << served.string() << "\"]";
        ::setenv("WENDLE_FS_ALLOW", (path / "allow.json").c_str(), 1);
        ::setenv("WENDLE_FS_AUDIT_LOG", (path / "var" / "fs-audit.log").c_str(), 1);
    }
    ~Scratch() {
        std::error_code ignored;
        stdfs::remove_all(path, ignored);
    }
};

Scratch& scratch() {
    static Scratch s;
    return s;
}

template <class F>
void timed(benchmark::State& state, F&& call) {
    bench::timed(state, std::forward<F>(call), benchmark::Counter::kAvgThreads);
    state.SetItemsProcessed(state.iterations());
}

void FsReadTool(benchmark::State& state) {
    const std::string path = scratch().file.string();
    timed(state, [&] {
        auto out = fsaccess::finish_fs("fs_read", path, fsaccess::fs_read_serve(path, {}, fsaccess::fs_policy()));
        if (out.is_error) state.SkipWithError(out.text.c_str());
        benchmark::DoNotOptimize(out);
    });
}

void FsListTool(benchmark::State& state) {
    const std::string path = scratch().folder.string();
    timed(state, [&] {
        auto out = fsaccess::finish_fs("fs_list", path,
                                       fsaccess::fs_list_serve(path, fsaccess::list_max_limit, fsaccess::fs_policy()));
        if (out.is_error) state.SkipWithError(out.text.c_str());
        benchmark::DoNotOptimize(out);
    });
}

// What cat does: open, read to the end, close.
void CatFloor(benchmark::State& state) {
    const std::string path = scratch().file.string();
    std::vector<char> buffer(131072);
    timed(state, [&] {
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        std::size_t total = 0;
        for (ssize_t n; (n = ::read(fd, buffer.data(), buffer.size())) > 0;) total += static_cast<std::size_t>(n);
        ::close(fd);
        benchmark::DoNotOptimize(total);
    });
}

// What ls -l does: read the entries and the metadata of each, sort the names.
void LsFloor(benchmark::State& state) {
    const std::string path = scratch().folder.string();
    timed(state, [&] {
        DIR* dir = ::opendir(path.c_str());
        std::vector<std::pair<std::string, off_t>> entries;
        while (const dirent* item = ::readdir(dir)) {
            struct stat meta {};
            ::fstatat(::dirfd(dir), item->d_name, &meta, AT_SYMLINK_NOFOLLOW);
            entries.emplace_back(item->d_name, meta.st_size);
        }
        ::closedir(dir);
        std::sort(entries.begin(), entries.end());
        benchmark::DoNotOptimize(entries);
    });
}

// Runs a command with its output to /dev/null and waits for it.
void run_command(benchmark::State& state, std::vector<std::string> argv_text) {
    std::vector<char*> argv;
    for (auto& text : argv_text) argv.push_back(text.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    timed(state, [&] {
        pid_t pid = 0;
        if (::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
            state.SkipWithError("spawn failed");
            return;
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
    });
    posix_spawn_file_actions_destroy(&actions);
}

void CatProcess(benchmark::State& state) { run_command(state, {"cat", scratch().file.string()}); }
void LsProcess(benchmark::State& state) { run_command(state, {"ls", "-l", scratch().folder.string()}); }

BENCHMARK(FsReadTool)->Threads(1)->Threads(8)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(CatFloor)->Threads(1)->Threads(8)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(CatProcess)->Threads(1)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(FsListTool)->Threads(1)->Threads(8)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(LsFloor)->Threads(1)->Threads(8)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(LsProcess)->Threads(1)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    scratch();  // before any thread starts
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
