// The file kept aside until complete, both ways: nameless and under a
// temporary name (the way of file systems without nameless files).
#include "catalogue/target_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <stdexcept>

#include "catalogue/descriptor.h"
#include "tests/catalogue/unprivileged.h"
#include "tests/common/temp_dir.h"

namespace vexmor {
namespace {

namespace fs = std::filesystem;
using test::ListTree;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

const TargetCheck kAcceptAll = [](const struct stat&) {};

class TargetFileTest : public ::testing::TestWithParam<Aside> {
protected:
    TempDir dir_;
    Descriptor folder_{::open(dir_.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
};

TEST_P(TargetFileTest, NothingIsVisibleUntilTheCommitAndThenOnlyTheTarget) {
    TargetFile file(folder_.Get(), "t.bin", GetParam());
    file.Write("abc", 3);
    EXPECT_FALSE(fs::exists(dir_ / "t.bin"));

    const FileStamp stamp = file.Commit(kAcceptAll);

    EXPECT_EQ(ReadFile(dir_ / "t.bin"), "abc");
    EXPECT_EQ(ListTree(dir_.path()), std::vector<std::string>{"t.bin"});
    struct stat info {};
    ASSERT_EQ(::stat((dir_ / "t.bin").c_str(), &info), 0);
    EXPECT_EQ(stamp, StampOf(info));
}

TEST_P(TargetFileTest, ReplacesALinkAndPassesTheCheckWhatStoodThere) {
    WriteFile(dir_ / "elsewhere", "keep");
    fs::create_symlink(dir_ / "elsewhere", dir_ / "t.bin");
    TargetFile file(folder_.Get(), "t.bin", GetParam());
    file.Write("new", 3);
    bool sawLink = false;

    file.Commit([&](const struct stat& existing) { sawLink = S_ISLNK(existing.st_mode); });

    EXPECT_TRUE(sawLink);
    EXPECT_EQ(fs::symlink_status(dir_ / "t.bin").type(), fs::file_type::regular);
    EXPECT_EQ(ReadFile(dir_ / "t.bin"), "new");
    EXPECT_EQ(ReadFile(dir_ / "elsewhere"), "keep");
    EXPECT_EQ(ListTree(dir_.path()), (std::vector<std::string>{"elsewhere", "t.bin"}));
}

TEST_P(TargetFileTest, RefusalOrNoCommitLeavesTheOldFileAndNothingElse) {
    WriteFile(dir_ / "t.bin", "old");
    {
        TargetFile file(folder_.Get(), "t.bin", GetParam());
        file.Write("new", 3);
        EXPECT_THROW(file.Commit([](const struct stat&) { throw std::runtime_error("refused"); }), std::runtime_error);
    }
    {
        TargetFile file(folder_.Get(), "t.bin", GetParam());
        file.Write("new", 3);
    }
    EXPECT_EQ(ReadFile(dir_ / "t.bin"), "old");
    EXPECT_EQ(ListTree(dir_.path()), std::vector<std::string>{"t.bin"});
}

TEST_P(TargetFileTest, TwoWritersOfOneNameBothSucceedAndTheLastStays) {
    TargetFile first(folder_.Get(), "t.bin", GetParam());
    TargetFile second(folder_.Get(), "t.bin", GetParam());
    first.Write("first", 5);
    second.Write("second", 6);

    first.Commit(kAcceptAll);
    second.Commit(kAcceptAll);

    EXPECT_EQ(ReadFile(dir_ / "t.bin"), "second");
    EXPECT_EQ(ListTree(dir_.path()), std::vector<std::string>{"t.bin"});
}

INSTANTIATE_TEST_SUITE_P(Ways, TargetFileTest, ::testing::Values(Aside::Nameless, Aside::Named),
                         [](const ::testing::TestParamInfo<Aside>& param) {
                             return param.param == Aside::Nameless ? "Nameless" : "Named";
                         });

// Without /proc and without the right to link a descriptor (here: a file
// made before the process gave up root's rights), a nameless file cannot be
// given a name: it is copied to a temporary one instead, over a free name
// and over a taken one alike.
TEST(TargetFileWithoutProc, NamelessFileStillTakesItsPlace) {
    TempDir dir;
    fs::permissions(dir.path(), fs::perms::all);
    WriteFile(dir / "taken.bin", "old");
    fs::permissions(dir / "taken.bin", fs::perms::all);
    const std::optional<std::string> outcome = test::RunInChild(
        [&]() -> std::string {
            if (::geteuid() != 0 || ::unshare(CLONE_NEWNS) != 0 ||
                ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                ::umount2("/proc", MNT_DETACH) != 0)
                return "skip";
            try {
                Descriptor folder(::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
                TargetFile free(folder.Get(), "free.bin", Aside::Nameless);
                TargetFile taken(folder.Get(), "taken.bin", Aside::Nameless);
                free.Write("new bytes", 9);
                taken.Write("new bytes", 9);
                if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0) return "skip";
                free.Commit(kAcceptAll);
                taken.Commit(kAcceptAll);
                return "done";
            } catch (const std::exception& e) {
                return e.what();
            }
        },
        false);
    if (!outcome || *outcome == "skip") GTEST_SKIP() << "needs root to unmount /proc in a namespace of its own";
    EXPECT_EQ(*outcome, "done");
    EXPECT_EQ(ReadFile(dir / "free.bin"), "new bytes");
    EXPECT_EQ(ReadFile(dir / "taken.bin"), "new bytes");
    EXPECT_EQ(ListTree(dir.path()), (std::vector<std::string>{"free.bin", "taken.bin"}));
}

}  // namespace
}  // namespace vexmor
