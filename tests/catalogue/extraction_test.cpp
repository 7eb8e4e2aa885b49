// Copying items to disk: one stream to a file, and every item under a folder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "catalogue/inner_name.h"
#include "catalogue/uChmExtractor.h"
#include "platform/storage/storage_error.h"
#include "tests/catalogue/fake_storage.h"
#include "tests/catalogue/unprivileged.h"
#include "tests/common/temp_dir.h"

namespace vexmor {
namespace {

namespace fs = std::filesystem;
using test::FakeCounters;
using test::FakeNode;
using test::ListTree;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

std::string Pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return bytes;
}

std::size_t OpenDescriptors() {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

// Items built by hand, each in a storage of its own that holds just its stream.
class ItemsBuilder {
public:
    TChmItem& Add(const std::string& path, const std::string& name, const std::string& data) {
        return Add(path, test::Stream(name, data));
    }
    TChmItem& Add(const std::string& path, FakeNode stream) {
        TChmItem& item = items.Add();
        item.Path = path;
        item.Name = stream.name;
        item.Size = stream.data.size();
        item.Storage = test::OpenFakeStorage(test::Storage("", {std::move(stream)}), counters);
        return item;
    }
    TChmItems items;
    std::shared_ptr<FakeCounters> counters = std::make_shared<FakeCounters>();
};

// --- SaveToFile ---

class SaveSizeTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(SaveSizeTest, CopiesExactlyTheStreamInFullBlocksAndOneShortRead) {
    TempDir dir;
    ItemsBuilder built;
    const std::string data = Pattern(GetParam());
    const TChmItem& item = built.Add("", "s.bin", data);

    item.SaveToFile(dir / "s.bin");

    EXPECT_EQ(ReadFile(dir / "s.bin"), data);
    EXPECT_EQ(built.counters->reads, static_cast<int>(GetParam() / 4096 + 1));
    EXPECT_EQ(built.counters->liveStreams, 0);
}

INSTANTIATE_TEST_SUITE_P(Sizes, SaveSizeTest, ::testing::Values(0, 1, 4095, 4096, 8192, 8193, 200000));

TEST(SaveToFile, OverwritesALongerFileInPlaceToTheExactLength) {
    TempDir dir;
    const std::string target = dir / "old.bin";
    WriteFile(target, Pattern(20000) + "tail");
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    struct stat before {};
    ASSERT_EQ(::stat(target.c_str(), &before), 0);
    ItemsBuilder built;
    const std::string data(8192, 'n');

    built.Add("", "new.bin", data).SaveToFile(target);

    struct stat after {};
    ASSERT_EQ(::stat(target.c_str(), &after), 0);
    EXPECT_EQ(ReadFile(target), data);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
}

TEST(SaveToFile, StreamThatCannotBeOpenedLeavesTheDiskUntouched) {
    TempDir dir;
    WriteFile(dir / "existing.bin", "keep me");
    ItemsBuilder built;
    FakeNode locked = test::Stream("locked", "data");
    locked.failOpen = true;
    const TChmItem& item = built.Add("", locked);

    EXPECT_THROW(item.SaveToFile(dir / "new.bin"), storage::EStorageError);
    EXPECT_THROW(item.SaveToFile(dir / "existing.bin"), storage::EStorageError);
    EXPECT_FALSE(fs::exists(dir / "new.bin"));
    EXPECT_EQ(ReadFile(dir / "existing.bin"), "keep me");
}

TEST(SaveToFile, ReadFailureClosesTheFileAndReleasesTheStream) {
    TempDir dir;
    ItemsBuilder built;
    FakeNode damaged = test::Stream("damaged", Pattern(20000));
    damaged.failReadAt = 8192;
    const TChmItem& item = built.Add("", damaged);
    const std::size_t descriptors = OpenDescriptors();

    try {
        item.SaveToFile(dir / "out.bin");
        FAIL() << "no exception";
    } catch (const storage::EStorageError& e) {
        EXPECT_EQ(std::string(e.what()), "The help file is damaged: read failed");
    }
    EXPECT_EQ(OpenDescriptors(), descriptors);
    EXPECT_EQ(built.counters->liveStreams, 0);
    EXPECT_EQ(fs::file_size(dir / "out.bin"), 8192u);
}

// A target the file layer refuses, and the message the user reads for it.
struct RefusedTarget {
    const char* what;
    std::function<std::string(const TempDir&)> prepare;  // returns the target path
    const char* message;
};

class RefusedTargetTest : public ::testing::TestWithParam<RefusedTarget> {};

TEST_P(RefusedTargetTest, RaisesTheFileLayerMessageAndReleasesTheStream) {
    TempDir dir;
    ItemsBuilder built;
    const TChmItem& item = built.Add("", "s.bin", "some bytes");
    const std::string target = GetParam().prepare(dir);

    try {
        item.SaveToFile(target);
        FAIL() << "no exception";
    } catch (const EInOutError& e) {
        EXPECT_EQ(std::string(e.what()), GetParam().message);
    }
    EXPECT_EQ(built.counters->liveStreams, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Targets, RefusedTargetTest,
    ::testing::Values(
        RefusedTarget{"MissingFolder", [](const TempDir& d) { return d / "no/such/file"; }, "File not found"},
        RefusedTarget{"Folder",
                      [](const TempDir& d) {
                          fs::create_directory(d / "folder");
                          return d / "folder";
                      },
                      "File access denied"},
        RefusedTarget{"PlainFileAsFolder",
                      [](const TempDir& d) {
                          WriteFile(d / "plain", "x");
                          return d / "plain/file";
                      },
                      "Invalid filename"},
        RefusedTarget{"NameTooLong", [](const TempDir& d) { return d / std::string(300, 'n'); }, "Invalid filename"},
        RefusedTarget{"DiskFull", [](const TempDir&) { return std::string("/dev/full"); }, "Disk full"}),
    [](const ::testing::TestParamInfo<RefusedTarget>& param) { return std::string(param.param.what); });

TEST(SaveToFile, ReadOnlyTargetIsRefusedAndKeepsItsBytes) {
    TempDir dir;
    // Reachable and readable by the unprivileged user, writable by nobody.
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const std::string target = dir / "read-only.bin";
    WriteFile(target, "original");
    ASSERT_EQ(::chmod(target.c_str(), 0444), 0);
    ItemsBuilder built;
    const TChmItem& item = built.Add("", "s.bin", Pattern(10000));

    const std::optional<std::string> outcome = test::RunUnprivileged([&] {
        std::string message = "no exception";
        try {
            item.SaveToFile(target);
        } catch (const EInOutError& e) {
            message = e.what();
        }
        return message + " | live streams " + std::to_string(built.counters->liveStreams);
    });
    if (!outcome) GTEST_SKIP() << "running as root and cannot switch to an unprivileged user";

    EXPECT_EQ(*outcome, "File access denied | live streams 0");
    EXPECT_EQ(ReadFile(target), "original");
}

// --- ExtractAll ---

TEST(ExtractAll, RebuildsTheInnerTreeUnderAFolderItCreates) {
    TempDir dir;
    ItemsBuilder built;
    built.Add("", "root.txt", "r");
    built.Add("a/b", "deep.txt", Pattern(5000));
    built.Add("a", "mid.txt", "");
    built.Add("::DataSpace", "NameList", "n");
    built.Add("with space", "a file.html", "s");
    built.Add("中文", "页面.html", "c");

    built.items.ExtractAll(dir / "out/x");  // no trailing separator, does not exist yet

    EXPECT_EQ(ListTree(dir / "out/x"),
              (std::vector<std::string>{"::DataSpace", "::DataSpace/NameList", "a", "a/b", "a/b/deep.txt", "a/mid.txt",
                                        "root.txt", "with space", "with space/a file.html", "中文", "中文/页面.html"}));
    EXPECT_EQ(ReadFile(dir / "out/x/a/b/deep.txt"), Pattern(5000));
    EXPECT_EQ(ReadFile(dir / "out/x/root.txt"), "r");
    EXPECT_EQ(fs::file_size(dir / "out/x/a/mid.txt"), 0u);
    EXPECT_EQ(built.counters->liveStreams, 0);
}

TEST(ExtractAll, DeepInnerPathEndsInTheFolderMessage) {
    TempDir dir;
    std::string deep = "a";
    for (int level = 1; level < 100000; ++level) deep += "/a";
    ItemsBuilder built;
    built.Add(deep, "x.txt", "x");

    try {
        built.items.ExtractAll(dir / "out");
        FAIL() << "no exception";
    } catch (const EChmExtractError& e) {
        EXPECT_TRUE(std::string(e.what()) == "不能创建文件夹-" + deep);
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(ExtractAll, CreatesAShortRelativeFolder) {
    TempDir dir;
    const fs::path previous = fs::current_path();
    fs::current_path(dir.path());
    ItemsBuilder built;
    built.Add("", "root.txt", "r");
    built.Add("c", "x.txt", "x");

    EXPECT_NO_THROW(built.items.ExtractAll("ab"));
    fs::current_path(previous);

    EXPECT_EQ(ListTree(dir / "ab"), (std::vector<std::string>{"c", "c/x.txt", "root.txt"}));
}

// A plain file already standing where an inner folder must be created.
struct BlockedFolder {
    const char* blocker;    // plain file under the export folder
    const char* itemPath;   // Path of the item that needs the folder
};

class BlockedFolderTest : public ::testing::TestWithParam<BlockedFolder> {};

TEST_P(BlockedFolderTest, StopsWithTheItemsPathAndKeepsWhatWasWritten) {
    TempDir dir;
    fs::create_directory(dir / "out");
    WriteFile(dir / (std::string("out/") + GetParam().blocker), "in the way");
    ItemsBuilder built;
    built.Add("", "first.txt", "1");
    built.Add("a", "second.txt", "2");
    built.Add(GetParam().itemPath, "third.txt", "3");
    built.Add("later", "fourth.txt", "4");

    try {
        built.items.ExtractAll(dir / "out/");
        FAIL() << "no exception";
    } catch (const EChmExtractError& e) {
        EXPECT_EQ(std::string(e.what()), std::string("不能创建文件夹-") + GetParam().itemPath);
    }
    EXPECT_EQ(ReadFile(dir / "out/first.txt"), "1");
    EXPECT_EQ(ReadFile(dir / "out/a/second.txt"), "2");
    EXPECT_FALSE(fs::exists(dir / "out/later"));
    EXPECT_EQ(ReadFile(dir / (std::string("out/") + GetParam().blocker)), "in the way");
}

INSTANTIATE_TEST_SUITE_P(Places, BlockedFolderTest,
                         ::testing::Values(BlockedFolder{"b", "b"}, BlockedFolder{"b", "b/c/d"}));

// Inner names that would leave the export folder if taken as they are.
struct UnsafeName {
    std::string path;
    std::string name;
};

void PrintTo(const UnsafeName& n, std::ostream* out) { *out << '"' << n.path << "\" \"" << n.name << '"'; }

class UnsafeNameTest : public ::testing::TestWithParam<UnsafeName> {};

TEST_P(UnsafeNameTest, IsRefusedAndNothingLandsOutsideTheFolder) {
    TempDir sandbox;
    ItemsBuilder built;
    built.Add("", "ok.txt", "ok");
    built.Add(GetParam().path, GetParam().name, "evil");
    built.Add("", "after.txt", "after");

    try {
        built.items.ExtractAll(sandbox / "t1/t2");
        FAIL() << "no exception";
    } catch (const EChmExtractError& e) {
        const std::string expected = "不安全的文件名-" + InnerPathAndName(GetParam().path, GetParam().name);
        // what() ends at a NUL byte of the name.
        EXPECT_EQ(std::string(e.what()), std::string(expected.c_str()));
    }
    EXPECT_EQ(ListTree(sandbox.path()), (std::vector<std::string>{"t1", "t1/t2", "t1/t2/ok.txt"}));
}

INSTANTIATE_TEST_SUITE_P(
    Names, UnsafeNameTest,
    ::testing::Values(UnsafeName{"..", "evil"}, UnsafeName{"../..", "evil"}, UnsafeName{"a/../..", "evil"},
                      UnsafeName{"a/..", "evil"}, UnsafeName{".", "evil"}, UnsafeName{"", ".."},
                      UnsafeName{"", "."}, UnsafeName{"", ""}, UnsafeName{"a", ".."}, UnsafeName{"a//b", "evil"},
                      UnsafeName{"/tmp", "evil"}, UnsafeName{"a/", "evil"}, UnsafeName{"", "../evil"},
                      UnsafeName{"", std::string("ev\0il", 5)}, UnsafeName{std::string("a\0/..", 5), "evil"}));

}  // namespace
}  // namespace vexmor
