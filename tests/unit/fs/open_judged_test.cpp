#include "fs/serve.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>

namespace {

namespace stdfs = std::filesystem;

// A small tree: <tmp>/dir/file.txt, plus a spare file to swap in.
class OpenJudged : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (stdfs::temp_directory_path() / "fs-open-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root_ = stdfs::canonical(pattern);
        stdfs::create_directory(root_ / "dir");
        write(root_ / "dir" / "file.txt", "judged");
        write(root_ / "spare.txt", "swapped in");
    }
    void TearDown() override { stdfs::remove_all(root_); }

    static void write(const stdfs::path& path, const std::string& text) { std::ofstream(path) << text; }

    static fsaccess::Judged judge(const stdfs::path& path) {
        fsaccess::Judged judged{path, {}};
        EXPECT_EQ(::stat(path.c_str(), &judged.meta), 0);
        return judged;
    }

    stdfs::path root_;
};

struct SwapCase {
    const char* label;
    std::function<void(const stdfs::path& root)> change;  // runs between judgement and open
    std::string error;                                    // empty: the open succeeds
};

TEST_F(OpenJudged, RefusesWhatChangedAfterJudgement) {
    const SwapCase cases[] = {
        {"nothing changed", [](const stdfs::path&) {}, ""},
        {"contents rewritten in place", [](const stdfs::path& r) { write(r / "dir" / "file.txt", "new"); }, ""},
        {"another file renamed over it",
         [](const stdfs::path& r) { stdfs::rename(r / "spare.txt", r / "dir" / "file.txt"); },
         "the path was replaced after it was checked"},
        {"the file replaced by a link to itself elsewhere",
         [](const stdfs::path& r) {
             stdfs::rename(r / "dir" / "file.txt", r / "moved.txt");
             stdfs::create_symlink(r / "moved.txt", r / "dir" / "file.txt");
         },
         "Too many levels of symbolic links"},
        {"a directory on the way replaced by a link",
         [](const stdfs::path& r) {
             stdfs::rename(r / "dir", r / "dir.old");
             stdfs::create_directory_symlink(r / "dir.old", r / "dir");
         },
         "Not a directory"},  // O_DIRECTORY|O_NOFOLLOW meeting a link
        {"the file removed", [](const stdfs::path& r) { stdfs::remove(r / "dir" / "file.txt"); },
         "No such file or directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        TearDown();
        SetUp();
        const auto judged = judge(root_ / "dir" / "file.txt");
        c.change(root_);
        auto opened = fsaccess::open_judged(judged, O_RDONLY);
        if (c.error.empty()) {
            ASSERT_TRUE(opened.has_value()) << opened.error();
            EXPECT_GE(opened->get(), 0);
        } else {
            ASSERT_FALSE(opened.has_value());
            EXPECT_EQ(opened.error(), c.error);
        }
    }
}

TEST_F(OpenJudged, WalksThroughDirectoriesWithoutReadPermission) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads every directory";
    stdfs::permissions(root_ / "dir", stdfs::perms::owner_exec);
    const auto judged = judge(root_ / "dir" / "file.txt");
    auto opened = fsaccess::open_judged(judged, O_RDONLY);
    stdfs::permissions(root_ / "dir", stdfs::perms::owner_all);
    EXPECT_TRUE(opened.has_value()) << opened.error();
}

TEST_F(OpenJudged, NeverBlocksOnAFifo) {
    ASSERT_EQ(::mkfifo((root_ / "pipe").c_str(), 0600), 0);
    const auto judged = judge(root_ / "pipe");
    auto opened = fsaccess::open_judged(judged, O_RDONLY);
    EXPECT_TRUE(opened.has_value()) << opened.error();
}

}  // namespace
