// Every directory entry that carries data is listed and reads back, also
// when its name is no path of folders: such an entry is listed at the root
// under its whole stored name, at no cost per level of the name.
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/storage/storage.h"
#include "tests/common/case_name.h"
#include "tests/storage/storage_walk.h"
#include "tests/support/chm_writer.h"
#include "tests/support/hostile_chm.h"
#include "tests/support/temp_file.h"

namespace vexmor::test {
namespace {

namespace ts = testsupport;

struct NameCase {
    const char* what;
    std::vector<ts::ChmEntry> entries;
    std::map<std::string, std::string> listed;  // inner path as walked -> bytes
};

ts::ChmEntry Entry(const std::string& name, const std::string& bytes, unsigned section = 0) {
    return {name, ts::ToBytes(bytes), section};
}

const std::string kDeepest = ts::NestedFolders(256) + "/f";    // 256 folders and a stream: too deep by one
const std::string kDeepEnough = ts::NestedFolders(255) + "/f";  // exactly the deepest path of folders

const NameCase kNameCases[] = {
    {"a folder's name with data",
     {Entry("/dir/", "folder data"), Entry("/dir/page.htm", "page", 1)},
     {{"/dir/", "folder data"}, {"dir/page.htm", "page"}}},
    {"an empty level inside",
     {Entry("/a//b.htm", "empty level", 1), Entry("/a/b.htm", "plain")},
     {{"/a//b.htm", "empty level"}, {"a/b.htm", "plain"}}},
    {"an empty level first",
     {Entry("//b.htm", "first"), Entry("/b.htm", "plain", 1)},
     {{"//b.htm", "first"}, {"b.htm", "plain"}}},
    {"only separators with data", {Entry("///", "slashes")}, {{"///", "slashes"}}},
    {"the root's name with data", {Entry("/", "root")}, {{"/", "root"}}},
    {"a letter and many slashes", {Entry("/x" + std::string(5000, '/'), "x")}, {{"/x" + std::string(5000, '/'), "x"}}},
    {"more levels than a path of folders may have", {Entry(kDeepest, "deep", 1)}, {{kDeepest, "deep"}}},
    {"as many levels as a path of folders may have", {Entry(kDeepEnough, "deep enough")},
     {{kDeepEnough.substr(1), "deep enough"}}},
    // No data: nothing to list, and no storages for it either.
    {"empty-level folders without data",
     {Entry("/a//", ""), Entry("//", ""), Entry("/a/b.htm", "plain")},
     {{"a/b.htm", "plain"}}},
    // A stream with no bytes is a stream all the same.
    {"an empty stream with an empty level", {Entry("/a//empty", "")}, {{"/a//empty", ""}}},
};

class EntryNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(EntryNames, EveryEntryWithDataIsListedAndReadsBack) {
    const NameCase& c = GetParam();
    ts::ChmOptions options;
    options.sortDirectory = false;
    options.addFolderEntries = false;
    options.chunkSize = 0x4000;
    ts::TempFile file(ts::BuildChm(c.entries, options).bytes);
    std::map<std::string, std::string> listed;
    WalkStreams(storage::CreateITStorage()->StgOpenStorage(file.string()), [&](const WalkedStream& s) {
        if (s.name.rfind("::DataSpace/", 0) != 0) listed[s.name] = s.bytes;
    });
    EXPECT_EQ(listed, c.listed) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Cases, EntryNames, ::testing::ValuesIn(kNameCases),
                         CaseName<NameCase>);

// Names whose folders are all new: past a bound on the folders per entry,
// the rest are listed under their stored names; each one lists and reads.
TEST(EntryNames, FoldersBeyondTheBoundListUnderTheirStoredNames) {
    const ts::ChmImage image = ts::ManyFoldersChm(40, 200);
    ts::TempFile file(image.bytes);
    std::size_t inFolders = 0;
    std::size_t asStored = 0;
    WalkStreams(storage::CreateITStorage()->StgOpenStorage(file.string()), [&](const WalkedStream& s) {
        if (s.name.rfind("::DataSpace/", 0) == 0) return;
        EXPECT_EQ(s.bytes, "f") << s.name.substr(0, 20);
        ++(s.name.front() == '/' ? asStored : inFolders);
    });
    EXPECT_EQ(inFolders + asStored, 40u);
    EXPECT_GT(inFolders, 0u);
    EXPECT_GT(asStored, 0u);
}

}  // namespace
}  // namespace vexmor::test
