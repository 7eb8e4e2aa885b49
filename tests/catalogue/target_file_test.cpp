// The file kept aside until complete, both ways: nameless and under a
// temporary name (the way of file systems without nameless files).
#include "catalogue/target_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <optional>
#include <stdexcept>

#include "catalogue/descriptor.h"
#include "catalogue/in_out_error.h"
#include "catalogue/part_file_guard.h"
#include "tests/catalogue/unprivileged.h"
#include "tests/common/temp_dir.h"

namespace vexmor {
namespace {

namespace fs = std::filesystem;
using test::ListTree;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

const TargetCheck kAcceptAll = [](const struct stat&, const std::string&) {};

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

    file.Commit([&](const struct stat& existing, const std::string&) { sawLink = S_ISLNK(existing.st_mode); });

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
        EXPECT_THROW(file.Commit([](const struct stat&, const std::string&) { throw std::runtime_error("refused"); }), std::runtime_error);
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

// Without /proc and without the right to link a descriptor, a nameless file
// could not be given a name: the file still takes its place, over a free
// name and over a taken one alike.
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
                if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0) return "skip";
                Descriptor folder(::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
                TargetFile free(folder.Get(), "free.bin", Aside::Nameless);
                TargetFile taken(folder.Get(), "taken.bin", Aside::Nameless);
                free.Write("new bytes", 9);
                taken.Write("new bytes", 9);
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

// Without /proc a nameless file could only be named by copying it, which
// needs twice its size: on a volume with room for the file once (and not
// twice) it is written under a temporary name from the start.
TEST(TargetFileWithoutProc, NeedsRoomForTheFileOnce) {
    TempDir dir;
    fs::permissions(dir.path(), fs::perms::all);
    const std::string volume = dir / "volume";
    fs::create_directory(volume);
    constexpr std::size_t kSize = 2 << 20;
    const std::optional<std::string> outcome = test::RunInChild(
        [&]() -> std::string {
            if (::geteuid() != 0 || ::unshare(CLONE_NEWNS) != 0 ||
                ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                ::mount("tmpfs", volume.c_str(), "tmpfs", 0, "size=3m,mode=0777") != 0 ||
                ::umount2("/proc", MNT_DETACH) != 0)
                return "skip";
            try {
                Descriptor folder(::open(volume.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
                TargetFile file(folder.Get(), "big.bin", Aside::Nameless);
                const std::string block(1 << 20, 'b');
                for (std::size_t done = 0; done < kSize; done += block.size()) file.Write(block.data(), block.size());
                // Without root's right to link a descriptor, as most users.
                if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0) return "skip";
                file.Commit(kAcceptAll);
                struct stat info {};
                if (::fstatat(folder.Get(), "big.bin", &info, 0) != 0) return "not written";
                return "size " + std::to_string(info.st_size);
            } catch (const std::exception& e) {
                return e.what();
            }
        },
        false);
    if (!outcome || *outcome == "skip") GTEST_SKIP() << "needs root to mount in a namespace of its own";
    EXPECT_EQ(*outcome, "size " + std::to_string(kSize));
}

// Read-only means the permission bits: root, who may write any file, is
// refused such a file too.
TEST(InspectTarget, ReadOnlyFileIsRefusedWhoeverAsks) {
    TempDir dir;
    WriteFile(dir / "read-only.bin", "kept");
    ASSERT_EQ(::chmod((dir / "read-only.bin").c_str(), 0444), 0);
    Descriptor folder(::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (const Aside aside : {Aside::Nameless, Aside::Named}) {
        TargetFile file(folder.Get(), "read-only.bin", aside);
        file.Write("new", 3);
        try {
            file.Commit(kAcceptAll);
            ADD_FAILURE() << "a read-only file was replaced";
        } catch (const EInOutError& e) {
            EXPECT_STREQ(e.what(), "File access denied");
        }
    }
    EXPECT_EQ(ReadFile(dir / "read-only.bin"), "kept");
    EXPECT_EQ(ListTree(dir.path()), std::vector<std::string>{"read-only.bin"});
}

// A run stopped by a signal leaves no file under a temporary name: the file
// is removed, and the process still ends by that signal.
class StoppedBySignalTest : public ::testing::TestWithParam<int> {};

TEST_P(StoppedBySignalTest, RemovesTheNamedPartFileAndDiesOfTheSignal) {
    TempDir dir;
    WriteFile(dir / "t.bin", "old");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        RemovePartFilesOnSignals();
        Descriptor folder(::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        TargetFile file(folder.Get(), "t.bin", Aside::Named);
        file.Write("part", 4);
        ::raise(GetParam());
        ::_exit(99);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == GetParam()) << status;
    EXPECT_EQ(ListTree(dir.path()), std::vector<std::string>{"t.bin"});
    EXPECT_EQ(ReadFile(dir / "t.bin"), "old");
}

INSTANTIATE_TEST_SUITE_P(Signals, StoppedBySignalTest, ::testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& param) {
                             return std::string(param.param == SIGINT    ? "Interrupt"
                                                : param.param == SIGTERM ? "Terminate"
                                                                         : "HangUp");
                         });

}  // namespace
}  // namespace vexmor
