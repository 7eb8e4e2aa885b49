// The file kept aside until complete, both ways: nameless and under a
// temporary name (the way of file systems without nameless files).
#include "catalogue/target_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>

#include "catalogue/descriptor.h"
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

}  // namespace
}  // namespace vexmor
