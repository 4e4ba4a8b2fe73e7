#include "core/TFolderTree.h"

#include <filesystem>
#include <functional>
#include <string>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/TTempHome.h"

using namespace tarnwick::core;
using tarnwick::test::TTempHome;
using tarnwick::test::WriteFileBytes;
namespace fs = std::filesystem;

namespace {

constexpr uid_t Nobody = 65534;

class FolderTreeTest : public ::testing::Test
{
protected:
    TTempHome Home{false};
    std::string Cache = Home / "cache/VedOzurCache";
    std::string Outside = Home / "outside";

    void SetUp() override
    {
        fs::create_directories(Cache);
        fs::create_directories(Outside);
        WriteFileBytes(Outside + "/keep.eml", "keep");
        fs::create_directories(Outside + "/inner");
        WriteFileBytes(Outside + "/inner/keep2.eml", "keep");
    }

    void ExpectOutsideIntact()
    {
        EXPECT_TRUE(fs::exists(Outside + "/keep.eml"));
        EXPECT_TRUE(fs::exists(Outside + "/inner/keep2.eml"));
    }

    // Runs `deletion` as a user that folder permissions bind: root ignores a read-only folder. The
    // tree below Home then belongs to that user.
    void RunBoundByPermissions(const std::function<void()>& deletion)
    {
        if (::geteuid() != 0) {
            deletion();
            return;
        }
        ::chmod(Home.Path().c_str(), 0755);
        for (const auto& entry : fs::recursive_directory_iterator(Home / "cache"))
            ::lchown(entry.path().c_str(), Nobody, Nobody);
        ::lchown((Home / "cache").c_str(), Nobody, Nobody);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (::setgid(Nobody) != 0 || ::setuid(Nobody) != 0)
                ::_exit(2);
            deletion();
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        ASSERT_EQ(WEXITSTATUS(status), 0) << "could not drop privileges";
    }
};

} // namespace

TEST_F(FolderTreeTest, NestedFoldersGoAndEveryEntryIsReported)
{
    WriteFileBytes(Cache + "/a.eml", "a");
    fs::create_directories(Cache + "/sub/deeper");
    WriteFileBytes(Cache + "/sub/b.eml", "b");
    WriteFileBytes(Cache + "/sub/deeper/c.eml", "c");
    WriteFileBytes(Cache + "/sub/deeper/.hidden", "h");
    int entries = 0;
    DeleteFolderTree(Cache, [&] { ++entries; });
    EXPECT_FALSE(fs::exists(Cache));
    EXPECT_TRUE(fs::is_directory(Home / "cache")) << "the folder above stays";
    // a.eml, sub, b.eml, deeper, c.eml, .hidden
    EXPECT_EQ(entries, 6);
}

// Links are removed as links, wherever they are: what they point to is never entered or deleted.
TEST_F(FolderTreeTest, SymbolicLinksAreNeverFollowed)
{
    struct Case
    {
        const char* Name;
        std::function<void(const std::string& cache, const std::string& outside)> Make;
        std::string Deleted; // the path handed to the deletion, relative to Home
    };
    const Case cases[] = {
        {"link to an outside folder inside the cache",
         [](const std::string& cache, const std::string& outside) {
             WriteFileBytes(cache + "/own.eml", "own");
             fs::create_directory_symlink(outside, cache + "/linked");
         },
         "cache/VedOzurCache"},
        {"link to an outside file inside a sub-folder",
         [](const std::string& cache, const std::string& outside) {
             fs::create_directories(cache + "/sub");
             fs::create_symlink(outside + "/keep.eml", cache + "/sub/file-link");
         },
         "cache/VedOzurCache"},
        {"the cache folder itself is a link",
         [](const std::string& cache, const std::string& outside) {
             fs::remove(cache);
             fs::create_directory_symlink(outside, cache);
         },
         "cache/VedOzurCache"},
        {"the cache folder is a link, named with a trailing separator",
         [](const std::string& cache, const std::string& outside) {
             fs::remove(cache);
             fs::create_directory_symlink(outside, cache);
         },
         "cache/VedOzurCache/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        fs::remove_all(Cache);
        fs::create_directories(Cache);
        c.Make(Cache, Outside);
        DeleteFolderTree(Home / c.Deleted);
        EXPECT_FALSE(fs::exists(fs::symlink_status(Cache)));
        ExpectOutsideIntact();
        EXPECT_TRUE(fs::is_directory(Outside + "/inner"));
    }
}

TEST_F(FolderTreeTest, WhatCannotBeDeletedStaysAndTheRestGoes)
{
    WriteFileBytes(Cache + "/a.eml", "a");
    fs::create_directories(Cache + "/locked");
    WriteFileBytes(Cache + "/locked/stuck.eml", "stuck");
    fs::create_directories(Cache + "/open");
    WriteFileBytes(Cache + "/open/b.eml", "b");
    WriteFileBytes(Cache + "/z.eml", "z");
    ::chmod((Cache + "/locked").c_str(), 0500);

    RunBoundByPermissions([&] { DeleteFolderTree(Cache); });
    ::chmod((Cache + "/locked").c_str(), 0700);

    EXPECT_TRUE(fs::exists(Cache + "/locked/stuck.eml"));
    EXPECT_FALSE(fs::exists(Cache + "/a.eml"));
    EXPECT_FALSE(fs::exists(Cache + "/z.eml"));
    EXPECT_FALSE(fs::exists(Cache + "/open"));
    EXPECT_TRUE(fs::is_directory(Cache)) << "a folder that is not empty stays";
}

TEST_F(FolderTreeTest, MissingFolderOrPlainFileIsLeftAlone)
{
    DeleteFolderTree(Home / "nothing-here");
    DeleteFolderTree("");
    fs::remove(Cache);
    WriteFileBytes(Cache, "not a folder");
    DeleteFolderTree(Cache);
    EXPECT_TRUE(fs::is_regular_file(Cache));
}
