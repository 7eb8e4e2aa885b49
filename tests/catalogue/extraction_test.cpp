// Copying items to disk: one stream to a file, and every item under a folder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <map>
#include <sys/resource.h>
#include <sys/wait.h>

#include "catalogue/inner_name.h"
#include "catalogue/uChmExtractor.h"
#include "platform/storage/storage_error.h"
#include "tests/catalogue/fake_storage.h"
#include "tests/catalogue/unprivileged.h"
#include "tests/common/case_name.h"
#include "tests/common/temp_dir.h"
#include "tests/support/sample_data.h"

namespace vexmor {
namespace {

namespace fs = std::filesystem;
using test::FakeCounters;
using test::FakeNode;
using test::ListTree;
using test::ReadFile;
using test::SnapshotTree;
using test::TempDir;
using test::WriteFile;

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
    const std::string data = testsupport::SampleString(GetParam(), 1);
    const TChmItem& item = built.Add("", "s.bin", data);

    item.SaveToFile(dir / "s.bin");

    EXPECT_EQ(ReadFile(dir / "s.bin"), data);
    EXPECT_EQ(built.counters->reads, static_cast<int>(GetParam() / 4096 + 1));
    EXPECT_EQ(built.counters->liveStreams, 0);
}

INSTANTIATE_TEST_SUITE_P(Sizes, SaveSizeTest, ::testing::Values(0, 1, 4095, 4096, 8192, 8193, 200000),
                         [](const ::testing::TestParamInfo<std::size_t>& param) {
                             return std::to_string(param.param) + "Bytes";
                         });

TEST(SaveToFile, ReplacesALongerFileKeepingItsPermissionBitsAndItsOtherNames) {
    TempDir dir;
    const std::string target = dir / "old.bin";
    WriteFile(target, testsupport::SampleString(20000, 1) + "tail");
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    ASSERT_EQ(::link(target.c_str(), (dir / "other-name.bin").c_str()), 0);
    ItemsBuilder built;
    const std::string data(8192, 'n');

    built.Add("", "new.bin", data).SaveToFile(target);

    struct stat after {};
    ASSERT_EQ(::stat(target.c_str(), &after), 0);
    EXPECT_EQ(ReadFile(target), data);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(after.st_nlink, 1u);
    EXPECT_EQ(ReadFile(dir / "other-name.bin"), testsupport::SampleString(20000, 1) + "tail");
    EXPECT_EQ(ListTree(dir.path()), (std::vector<std::string>{"old.bin", "other-name.bin"}));
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

TEST(SaveToFile, ReadFailureLeavesTheOldFileAndNoPartOfTheNewOne) {
    TempDir dir;
    WriteFile(dir / "out.bin", "old bytes");
    ItemsBuilder built;
    FakeNode damaged = test::Stream("damaged", testsupport::SampleString(20000, 1));
    damaged.failReadAt = 8192;
    const TChmItem& item = built.Add("html", damaged);
    const std::size_t descriptors = OpenDescriptors();

    for (const char* target : {"out.bin", "new.bin"}) {
        try {
            item.SaveToFile(dir / target);
            FAIL() << "no exception";
        } catch (const storage::EStorageError& e) {
            EXPECT_EQ(std::string(e.what()), "The help file is damaged: read failed: html/damaged");
        }
    }
    EXPECT_EQ(OpenDescriptors(), descriptors);
    EXPECT_EQ(built.counters->liveStreams, 0);
    EXPECT_EQ(ListTree(dir.path()), std::vector<std::string>{"out.bin"});
    EXPECT_EQ(ReadFile(dir / "out.bin"), "old bytes");
}

// A target the file layer refuses, and the message the user reads for it.
struct RefusedTarget {
    const char* what;
    std::function<std::string(const TempDir&)> prepare;  // returns the target path
    const char* message;
};

class RefusedTargetTest : public ::testing::TestWithParam<RefusedTarget> {};

TEST_P(RefusedTargetTest, RaisesTheFileLayerMessageWithTheItemsNameAndReleasesTheStream) {
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
        RefusedTarget{"MissingFolder", [](const TempDir& d) { return d / "no/such/file"; }, "File not found: s.bin"},
        RefusedTarget{"Folder",
                      [](const TempDir& d) {
                          fs::create_directory(d / "folder");
                          return d / "folder";
                      },
                      "File access denied: s.bin"},
        RefusedTarget{"EndsInASeparator", [](const TempDir& d) { return d / "folder/"; }, "File access denied: s.bin"},
        RefusedTarget{"PlainFileAsFolder",
                      [](const TempDir& d) {
                          WriteFile(d / "plain", "x");
                          return d / "plain/file";
                      },
                      "Invalid filename: s.bin"},
        RefusedTarget{"NameTooLong", [](const TempDir& d) { return d / std::string(300, 'n'); },
                      "Invalid filename: s.bin"}),
    [](const ::testing::TestParamInfo<RefusedTarget>& param) { return std::string(param.param.what); });

TEST(SaveToFile, ReadOnlyTargetIsRefusedAndKeepsItsBytes) {
    TempDir dir;
    // Reachable and readable by the unprivileged user, writable by nobody.
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const std::string target = dir / "read-only.bin";
    WriteFile(target, "original");
    ASSERT_EQ(::chmod(target.c_str(), 0444), 0);
    ItemsBuilder built;
    const TChmItem& item = built.Add("", "s.bin", testsupport::SampleString(10000, 1));

    const std::optional<std::string> outcome = test::RunUnprivileged([&] {
        std::string message = "no exception";
        try {
            item.SaveToFile(target);
        } catch (const EInOutError& e) {
            message = e.what();
        }
        return message + " | live streams " + std::to_string(built.counters->liveStreams) + " | reads " +
               std::to_string(built.counters->reads);
    });
    if (!outcome) GTEST_SKIP() << "running as root and cannot switch to an unprivileged user";

    // Refused before a byte of the stream was read.
    EXPECT_EQ(*outcome, "File access denied: s.bin | live streams 0 | reads 0");
    EXPECT_EQ(ReadFile(target), "original");
}

// --- what already stands at a target, for both ways of exporting ---

enum class Way { SaveToFile, ExtractAll };

// Exports `item` so that it lands on `folder`/`name`; returns the message of
// the failure, or "" on success.
std::string ExportTo(Way way, TChmItems& items, const TChmItem& item, const std::string& folder) {
    try {
        if (way == Way::SaveToFile)
            item.SaveToFile(folder + "/" + item.Name);
        else
            items.ExtractAll(folder);
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

mode_t DefaultFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

struct StandingThing {
    const char* what;
    // Plants something at `out`/t.bin, may use `outside`, a folder beside `out`.
    std::function<void(const fs::path& out, const fs::path& outside)> plant;
    mode_t mode;  // expected permission bits of the new file; 0 for the default
};

void PrintTo(const StandingThing& s, std::ostream* out) { *out << s.what; }

class StandingThingTest : public ::testing::TestWithParam<std::tuple<StandingThing, Way>> {};

TEST_P(StandingThingTest, IsReplacedNeverWrittenThroughAndNothingOutsideChanges) {
    const auto& [thing, way] = GetParam();
    TempDir dir;
    fs::create_directories(dir / "out");
    fs::create_directories(dir / "outside/folder");
    WriteFile(dir / "outside/victim.txt", "victim bytes");
    ASSERT_EQ(::chmod((dir / "outside/victim.txt").c_str(), 04755), 0);
    thing.plant(dir / "out", dir / "outside");
    const auto outsideBefore = SnapshotTree(dir / "outside");
    ItemsBuilder built;
    const std::string data = testsupport::SampleString(9000, 1);
    const TChmItem& item = built.Add("", "t.bin", data);

    EXPECT_EQ(ExportTo(way, built.items, item, dir / "out"), "");

    const fs::path target = dir / "out/t.bin";
    EXPECT_EQ(fs::symlink_status(target).type(), fs::file_type::regular);
    EXPECT_EQ(ReadFile(target), data);
    EXPECT_EQ(static_cast<mode_t>(fs::status(target).permissions()), thing.mode ? thing.mode : DefaultFileMode());
    EXPECT_EQ(ListTree(dir / "out"), std::vector<std::string>{"t.bin"});
    EXPECT_EQ(SnapshotTree(dir / "outside"), outsideBefore);
}

const StandingThing kStandingThings[] = {
    {"LinkToAFile", [](const fs::path& out, const fs::path& outside) {
         fs::create_symlink(outside / "victim.txt", out / "t.bin");
     }, 0},
    {"LinkToAFolder", [](const fs::path& out, const fs::path& outside) {
         fs::create_symlink(outside / "folder", out / "t.bin");
     }, 0},
    {"DanglingLink", [](const fs::path& out, const fs::path& outside) {
         fs::create_symlink(outside / "created-through-the-link", out / "t.bin");
     }, 0},
    {"RelativeLinkOut", [](const fs::path& out, const fs::path&) {
         fs::create_symlink("../outside/victim.txt", out / "t.bin");
     }, 0},
    {"HardLink", [](const fs::path& out, const fs::path& outside) {
         fs::create_hard_link(outside / "victim.txt", out / "t.bin");
     }, 0755},  // the bits of the file it replaced, without set-uid
    {"Fifo", [](const fs::path& out, const fs::path&) {
         ASSERT_EQ(::mkfifo((out / "t.bin").c_str(), 0600), 0);
     }, 0},
    {"LinkToDevNull", [](const fs::path& out, const fs::path&) {
         fs::create_symlink("/dev/null", out / "t.bin");
     }, 0},
    {"OlderFile", [](const fs::path& out, const fs::path&) {
         WriteFile(out / "t.bin", testsupport::SampleString(30000, 1));
         ASSERT_EQ(::chmod((out / "t.bin").c_str(), 0600), 0);
     }, 0600},
};

INSTANTIATE_TEST_SUITE_P(
    Things, StandingThingTest,
    ::testing::Combine(::testing::ValuesIn(kStandingThings), ::testing::Values(Way::SaveToFile, Way::ExtractAll)),
    [](const ::testing::TestParamInfo<std::tuple<StandingThing, Way>>& param) {
        return std::string(std::get<0>(param.param).what) +
               (std::get<1>(param.param) == Way::SaveToFile ? "_SaveToFile" : "_ExtractAll");
    });

// The open help file as a target: refused through any of its names, and
// its bytes never change.
struct HelpFileTarget {
    const char* what;
    Way way;
    const char* itemName;     // of the item that lands on the help file
    bool secondName;          // the item's name is a second (hard) link of the help file
    const char* message;
};

void PrintTo(const HelpFileTarget& h, std::ostream* out) { *out << h.what; }

class HelpFileTargetTest : public ::testing::TestWithParam<HelpFileTarget> {};

TEST_P(HelpFileTargetTest, IsRefusedNamingTheItemAndKeepsItsBytes) {
    TempDir dir;
    const std::string help = dir / "help.chm";
    WriteFile(help, "the help file's own bytes");
    struct stat info {};
    ASSERT_EQ(::stat(help.c_str(), &info), 0);
    const storage::FileIdentity source{static_cast<std::uint64_t>(info.st_dev),
                                       static_cast<std::uint64_t>(info.st_ino), 0, 0};
    if (GetParam().secondName) {
        ASSERT_EQ(::link(help.c_str(), (dir / GetParam().itemName).c_str()), 0);
    }
    TChmItems items;
    auto counters = std::make_shared<FakeCounters>();
    for (const char* name : {"first.txt", GetParam().itemName, "last.txt"}) {
        TChmItem& item = items.Add();
        item.Name = name;
        item.Size = 4;
        item.Storage = test::OpenFakeStorage(test::Storage("", {test::Stream(name, "data")}), counters, source);
    }

    const std::string message = ExportTo(GetParam().way, items, items[1], dir.path().string());

    EXPECT_EQ(message, GetParam().message);
    EXPECT_EQ(ReadFile(help), "the help file's own bytes");
    // Export this looks before it reads.
    if (GetParam().way == Way::SaveToFile) {
        EXPECT_EQ(counters->reads, 0);
    }
    if (GetParam().way == Way::ExtractAll) {
        EXPECT_EQ(ReadFile(dir / "first.txt"), "data");
        EXPECT_FALSE(fs::exists(dir / "last.txt"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HelpFileTargetTest,
    ::testing::Values(
        HelpFileTarget{"ExportThisOntoIt", Way::SaveToFile, "help.chm", false, "不能覆盖正在读取的帮助文件-help.chm"},
        HelpFileTarget{"ExportThisOntoASecondName", Way::SaveToFile, "copy.chm", true,
                       "不能覆盖正在读取的帮助文件-copy.chm"},
        HelpFileTarget{"ExportAllIntoItsFolder", Way::ExtractAll, "help.chm", false,
                       "不能覆盖正在读取的帮助文件-help.chm"},
        HelpFileTarget{"ExportAllOntoASecondName", Way::ExtractAll, "copy.chm", true,
                       "不能覆盖正在读取的帮助文件-copy.chm"}),
    [](const ::testing::TestParamInfo<HelpFileTarget>& param) { return std::string(param.param.what); });

// A write that the file system refuses half-way (here: past the file size
// limit, with its signal ignored) keeps the old file and leaves no part.
class FailedWriteTest : public ::testing::TestWithParam<Way> {};

TEST_P(FailedWriteTest, LeavesTheOldFileAndNoPartialOrTemporaryFile) {
    TempDir dir;
    WriteFile(dir / "big.bin", "old and longer than nothing");
    ItemsBuilder built;
    const TChmItem& item = built.Add("", "big.bin", testsupport::SampleString(100000, 1));

    const std::optional<std::string> message = test::RunInChild(
        [&] {
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{50000, 50000};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            return ExportTo(GetParam(), built.items, item, dir.path().string());
        },
        false);

    EXPECT_EQ(message, "I/O error 27: big.bin");  // EFBIG
    EXPECT_EQ(ListTree(dir.path()), std::vector<std::string>{"big.bin"});
    EXPECT_EQ(ReadFile(dir / "big.bin"), "old and longer than nothing");
}

INSTANTIATE_TEST_SUITE_P(Ways, FailedWriteTest, ::testing::Values(Way::SaveToFile, Way::ExtractAll),
                         [](const ::testing::TestParamInfo<Way>& param) {
                             return param.param == Way::SaveToFile ? "SaveToFile" : "ExtractAll";
                         });

// --- ExtractAll ---

TEST(ExtractAll, RebuildsTheInnerTreeUnderAFolderItCreates) {
    TempDir dir;
    ItemsBuilder built;
    built.Add("", "root.txt", "r");
    built.Add("a/b", "deep.txt", testsupport::SampleString(5000, 1));
    built.Add("a", "mid.txt", "");
    built.Add("::DataSpace", "NameList", "n");
    built.Add("with space", "a file.html", "s");
    built.Add("中文", "页面.html", "c");

    built.items.ExtractAll(dir / "out/x");  // no trailing separator, does not exist yet

    EXPECT_EQ(ListTree(dir / "out/x"),
              (std::vector<std::string>{"::DataSpace", "::DataSpace/NameList", "a", "a/b", "a/b/deep.txt", "a/mid.txt",
                                        "root.txt", "with space", "with space/a file.html", "中文", "中文/页面.html"}));
    EXPECT_EQ(ReadFile(dir / "out/x/a/b/deep.txt"), testsupport::SampleString(5000, 1));
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
        EXPECT_TRUE(std::string(e.what()) ==
                    "不能创建文件夹-" + deep + ": " + deep + "/x.txt (" + deep + ": Invalid filename)");
    }
    EXPECT_EQ(ListTree(dir.path()), std::vector<std::string>{"out"});
}

// A chosen folder that cannot be made for want of permission says so; the
// missing folder is only where the trouble shows, not why.
TEST(ExtractAll, AFolderThatMayNotBeMadeIsRefusedForThatReason) {
    TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    fs::create_directory(dir / "locked");
    ASSERT_EQ(::chmod((dir / "locked").c_str(), 0555), 0);
    ItemsBuilder built;
    built.Add("", "root.txt", "r");

    const std::optional<std::string> outcome = test::RunUnprivileged([&] {
        try {
            built.items.ExtractAll(dir / "locked/new/deeper");
        } catch (const std::exception& e) {
            return std::string(e.what());
        }
        return std::string("no exception");
    });
    ::chmod((dir / "locked").c_str(), 0755);
    if (!outcome) GTEST_SKIP() << "running as root and cannot switch to an unprivileged user";

    EXPECT_EQ(*outcome, "不能创建文件夹-: root.txt (" + (dir / "locked/new/deeper/") + ": File access denied)");
    EXPECT_TRUE(ListTree(dir / "locked").empty());
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

// Something other than a real folder standing where an inner folder must be.
struct BlockedFolder {
    const char* what;
    const char* itemPath;  // Path of the item that needs the folder
    // Plants something at `out`/b, may use `outside`, a folder beside `out`.
    std::function<void(const fs::path& out, const fs::path& outside)> plant;
};

void PrintTo(const BlockedFolder& b, std::ostream* out) { *out << b.what; }

class BlockedFolderTest : public ::testing::TestWithParam<BlockedFolder> {};

TEST_P(BlockedFolderTest, StopsWithTheItemsNamesAndWritesNothingThrough) {
    TempDir dir;
    fs::create_directory(dir / "out");
    fs::create_directories(dir / "outside/c/d");
    GetParam().plant(dir / "out", dir / "outside");
    const auto outsideBefore = SnapshotTree(dir / "outside");
    ItemsBuilder built;
    built.Add("", "first.txt", "1");
    built.Add("a", "second.txt", "2");
    built.Add(GetParam().itemPath, "third.txt", "3");
    built.Add("later", "fourth.txt", "4");

    try {
        built.items.ExtractAll(dir / "out/");
        FAIL() << "no exception";
    } catch (const EChmExtractError& e) {
        const std::string path = GetParam().itemPath;
        EXPECT_EQ(std::string(e.what()), "不能创建文件夹-" + path + ": " + path + "/third.txt (b: not a folder)");
    }
    EXPECT_EQ(ReadFile(dir / "out/first.txt"), "1");
    EXPECT_EQ(ReadFile(dir / "out/a/second.txt"), "2");
    EXPECT_FALSE(fs::exists(dir / "out/later"));
    EXPECT_EQ(SnapshotTree(dir / "outside"), outsideBefore);
}

const BlockedFolder kBlockedFolders[] = {
    {"PlainFile", "b", [](const fs::path& out, const fs::path&) { WriteFile(out / "b", "in the way"); }},
    {"PlainFileHigherUp", "b/c/d", [](const fs::path& out, const fs::path&) { WriteFile(out / "b", "in the way"); }},
    {"LinkToAFolder", "b", [](const fs::path& out, const fs::path& outside) { fs::create_symlink(outside, out / "b"); }},
    {"LinkToAFolderHigherUp", "b/c/d",
     [](const fs::path& out, const fs::path& outside) { fs::create_symlink(outside, out / "b"); }},
    {"RelativeLinkOut", "b/c", [](const fs::path& out, const fs::path&) { fs::create_symlink("../outside", out / "b"); }},
    {"DanglingLink", "b",
     [](const fs::path& out, const fs::path& outside) { fs::create_symlink(outside / "made-through-the-link", out / "b"); }},
    {"Fifo", "b", [](const fs::path& out, const fs::path&) { ASSERT_EQ(::mkfifo((out / "b").c_str(), 0600), 0); }},
};

INSTANTIATE_TEST_SUITE_P(Places, BlockedFolderTest, ::testing::ValuesIn(kBlockedFolders),
                         [](const ::testing::TestParamInfo<BlockedFolder>& param) { return std::string(param.param.what); });

TEST(ExtractAll, ChosenFolderMayBeALink) {
    TempDir dir;
    fs::create_directory(dir / "real");
    fs::create_symlink(dir / "real", dir / "link");
    ItemsBuilder built;
    built.Add("", "root.txt", "r");
    built.Add("a", "x.txt", "x");

    built.items.ExtractAll(dir / "link");

    EXPECT_EQ(ListTree(dir / "real"), (std::vector<std::string>{"a", "a/x.txt", "root.txt"}));
}

// Two items that land on one file: the second is refused, naming both, and
// the first one's file stays.
struct DuplicateTarget {
    const char* what;
    std::vector<std::pair<std::string, std::string>> items;  // path, name; the data is the index
    const char* message;
    const char* file;       // the file both land on, below the folder
    const char* fileBytes;  // what it holds afterwards
};

void PrintTo(const DuplicateTarget& d, std::ostream* out) { *out << d.what; }

class DuplicateTargetTest : public ::testing::TestWithParam<DuplicateTarget> {};

TEST_P(DuplicateTargetTest, SecondItemIsRefusedNamingBoth) {
    TempDir dir;
    ItemsBuilder built;
    for (std::size_t i = 0; i < GetParam().items.size(); ++i)
        built.Add(GetParam().items[i].first, GetParam().items[i].second, "item " + std::to_string(i));

    try {
        built.items.ExtractAll(dir / "out");
        FAIL() << "no exception";
    } catch (const std::exception& e) {
        EXPECT_EQ(std::string(e.what()), GetParam().message);
    }
    EXPECT_EQ(ReadFile(dir.path() / "out" / GetParam().file), GetParam().fileBytes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DuplicateTargetTest,
    ::testing::Values(
        DuplicateTarget{"SameNameAtTheRoot", {{"", "x"}, {"", "y"}, {"", "x"}}, "两项的目标是同一文件-x, x", "x", "item 0"},
        DuplicateTarget{"SameNameInAFolder", {{"a/b", "x"}, {"a", "y"}, {"a/b", "x"}}, "两项的目标是同一文件-a/b/x, a/b/x",
                        "a/b/x", "item 0"},
        DuplicateTarget{"FileWhereAnItemMadeAFolder", {{"a", "x"}, {"", "a"}}, "File access denied: a", "a/x", "item 0"}),
    [](const ::testing::TestParamInfo<DuplicateTarget>& param) { return std::string(param.param.what); });

// Several processes exporting into one folder at once: each folder that
// another one created first, and each file another one replaced, is fine.
TEST(ExtractAll, ProcessesExportingIntoOneFolderAtOnceAllSucceed) {
    TempDir dir;
    ItemsBuilder built;
    for (int folder = 0; folder < 8; ++folder) {
        for (int file = 0; file < 4; ++file)
            built.Add("f" + std::to_string(folder) + "/g/h", "x" + std::to_string(file), testsupport::SampleString(5000 + file, 1));
    }
    built.Add("", "root.txt", "r");
    constexpr int kProcesses = 6;
    std::vector<pid_t> children;
    for (int i = 0; i < kProcesses; ++i) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            int failures = 0;
            for (int round = 0; round < 20; ++round) {
                try {
                    built.items.ExtractAll(dir / "out");
                } catch (const std::exception&) {
                    ++failures;
                }
            }
            ::_exit(failures == 0 ? 0 : 1);
        }
        children.push_back(child);
    }
    for (const pid_t child : children) {
        int status = -1;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(ReadFile(dir / "out/f7/g/h/x3"), testsupport::SampleString(5003, 1));
    EXPECT_EQ(ListTree(dir / "out").size(), 8u * (3 + 4) + 1);  // no temporary file left
}

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
                      UnsafeName{"", std::string("ev\0il", 5)}, UnsafeName{std::string("a\0/..", 5), "evil"}),
    [](const ::testing::TestParamInfo<UnsafeName>& param) {
        return test::SpelledName(param.param.path) + "_" + test::SpelledName(param.param.name);
    });

}  // namespace
}  // namespace vexmor
