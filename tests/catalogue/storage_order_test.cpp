// Export all on real help files: items go to disk in the order of their
// bytes, so each compressed span is decoded once whatever the order of the
// names; streams that claim the same bytes are refused before anything is
// written; the open path is opened anew when the file there changed.
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "catalogue/uChmExtractor.h"
#include "tests/common/case_name.h"
#include "tests/common/temp_dir.h"
#include "tests/support/chm_writer.h"
#include "tests/support/hostile_chm.h"
#include "tests/support/temp_file.h"

namespace vexmor {
namespace {

namespace fs = std::filesystem;
namespace ts = testsupport;
using test::TempDir;

class Recorder : public ExportObserver {
public:
    bool BeforeItem(const TChmItem& item) override {
        names.push_back(item.Path.empty() ? item.Name : item.Path + "/" + item.Name);
        return true;
    }
    std::vector<std::string> names;
};

std::string Pattern(std::size_t length, unsigned seed) {
    std::string out;
    std::minstd_rand random(seed);
    while (out.size() < length) out += "topic " + std::to_string(random() % 1000) + " ";
    out.resize(length);
    return out;
}

// 60 pages of 20 KB stored in shuffled order over spans of 32 KiB, read
// with a cache of one span: in name order nearly every page would decode
// its spans again.
TEST(StorageOrder, ExportDecodesEachSpanOnceWhateverTheOrderOfNames) {
    std::vector<ts::ChmEntry> entries;
    for (int i = 0; i < 60; ++i)
        entries.push_back({"/p/" + std::to_string(100 + i) + ".htm", ts::ToBytes(Pattern(20000, static_cast<unsigned>(i))), 1});
    ts::ChmOptions options;
    options.lzx.resetIntervalBytes = 0x8000;
    options.storageOrder.resize(entries.size());
    std::iota(options.storageOrder.begin(), options.storageOrder.end(), std::size_t{0});
    std::shuffle(options.storageOrder.begin(), options.storageOrder.end(), std::minstd_rand(7));
    ts::TempFile file(ts::BuildChm(entries, options).bytes);

    TChmExtractor extractor([] { return storage::CreateITStorageWithCache(0x8000); });
    extractor.Open(file.string());
    TempDir dir;
    Recorder recorder;
    extractor.Items().ExtractAll(dir / "out", &recorder);

    std::vector<std::string> byStorage;
    for (const std::size_t index : options.storageOrder) byStorage.push_back(entries[index].name.substr(1));
    std::vector<std::string> pages;
    std::copy_if(recorder.names.begin(), recorder.names.end(), std::back_inserter(pages),
                 [](const std::string& name) { return name.rfind("p/", 0) == 0; });
    EXPECT_EQ(pages, byStorage);
    for (const ts::ChmEntry& entry : entries)
        EXPECT_EQ(test::ReadFile(dir / ("out" + entry.name)), std::string(entry.bytes.begin(), entry.bytes.end()));
    const storage::DecodeStatistics stats = extractor.DecodeStatistics();
    EXPECT_LE(stats.decodedBytes, stats.sectionLength);
}

struct OverlapCase {
    const char* what;
    std::vector<ts::ChmEntry> entries;
    std::map<std::string, ts::FileRange> claims;
    const char* refusal;  // nullptr: exported in full
};

ts::ChmEntry Entry(const std::string& name, std::size_t length, unsigned section) {
    return {name, ts::ToBytes(Pattern(length, static_cast<unsigned>(name.size()))), section};
}

const OverlapCase kOverlapCases[] = {
    {"two compressed streams claim the same bytes",
     {Entry("/a.htm", 3000, 1), Entry("/b.htm", 0, 1)},
     {{"/b.htm", {0, 3000}}},
     "数据重叠的文件-a.htm 与 b.htm"},
    {"one compressed stream inside another",
     {Entry("/outer.htm", 3000, 1), Entry("/x/inner.htm", 0, 1), Entry("/z.htm", 10, 1)},
     {{"/x/inner.htm", {1000, 10}}},
     "数据重叠的文件-outer.htm 与 x/inner.htm"},
    {"stored streams overlap by one byte",
     {Entry("/s1.bin", 100, 0), Entry("/s2.bin", 100, 0)},
     {{"/s2.bin", {99, 100}}},
     "数据重叠的文件-s1.bin 与 s2.bin"},
    {"a stream reaching past 2^64",
     {Entry("/a.htm", 100, 1), Entry("/b.htm", 0, 1)},
     {{"/b.htm", {50, UINT64_MAX}}},
     "数据重叠的文件-a.htm 与 b.htm"},
    {"two streams reaching past 2^64 share its last byte",
     {Entry("/a.htm", 100, 1), Entry("/b.bin", 0, 0), Entry("/c.bin", 0, 0)},
     {{"/b.bin", {UINT64_MAX - 3, 10}}, {"/c.bin", {UINT64_MAX, 1}}},
     "数据重叠的文件-b.bin 与 c.bin"},
    {"a zero-length stream inside another",
     {Entry("/a.htm", 3000, 1), Entry("/empty.htm", 0, 1)},
     {{"/empty.htm", {1000, 0}}},
     nullptr},
    {"adjacent streams", {Entry("/a.htm", 3000, 1), Entry("/b.htm", 10, 1)}, {}, nullptr},
    {"the same offsets in different sections", {Entry("/s.bin", 100, 0), Entry("/c.htm", 100, 1)},
     {{"/s.bin", {0, 100}}, {"/c.htm", {0, 100}}}, nullptr},
};

class Overlap : public ::testing::TestWithParam<OverlapCase> {};

TEST_P(Overlap, ExportAllRefusesBeforeWritingAndOneStreamStillCopies) {
    const OverlapCase& c = GetParam();
    ts::ChmOptions options;
    options.claims = c.claims;
    ts::TempFile file(ts::BuildChm(c.entries, options).bytes);
    TChmExtractor extractor;
    extractor.Open(file.string());
    TempDir dir;
    if (!c.refusal) {
        EXPECT_NO_THROW(extractor.Items().ExtractAll(dir / "out")) << c.what;
        return;
    }
    try {
        extractor.Items().ExtractAll(dir / "out");
        ADD_FAILURE() << c.what << ": exported";
    } catch (const EChmExtractError& e) {
        EXPECT_STREQ(e.what(), c.refusal) << c.what;
    }
    EXPECT_FALSE(fs::exists(dir / "out")) << c.what;
    // The first entry is always whole and within its section.
    const ts::ChmEntry& first = c.entries.front();
    for (std::size_t i = 0; i < extractor.Items().Count(); ++i) {
        const TChmItem& item = extractor.Items()[i];
        if ("/" + item.Name != first.name) continue;
        item.SaveToFile(dir / "one");
        EXPECT_EQ(test::ReadFile(dir / "one"), std::string(first.bytes.begin(), first.bytes.end())) << c.what;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, Overlap, ::testing::ValuesIn(kOverlapCases),
                         test::CaseName<OverlapCase>);

// --- the open path opened again ---

ts::Bytes HelpFile(const std::string& text) { return ts::BuildChm({{"/page.htm", ts::ToBytes(text), 1}}).bytes; }

struct ChangeCase {
    const char* what;
    void (*change)(const std::string& path);
    bool walkedAgain;
};

void SetModified(const std::string& path, long seconds) {
    const struct timespec times[2] = {{0, UTIME_OMIT}, {seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

const ChangeCase kChangeCases[] = {
    {"unchanged", [](const std::string&) {}, false},
    {"rewritten in place, longer", [](const std::string& p) { ts::WriteFileBytes(p, HelpFile("a longer page now")); }, true},
    {"same size, other bytes and time",
     [](const std::string& p) {
         ts::WriteFileBytes(p, HelpFile("second"));
         SetModified(p, 1000000000);
     },
     true},
    {"replaced by another file",
     [](const std::string& p) {
         ts::WriteFileBytes(p + ".new", HelpFile("other"));
         fs::rename(p + ".new", p);
     },
     true},
};

class ReOpen : public ::testing::TestWithParam<ChangeCase> {};

TEST_P(ReOpen, TheOpenPathIsWalkedAgainExactlyWhenTheFileChanged) {
    const ChangeCase& c = GetParam();
    TempDir dir;
    const std::string path = dir / "help.chm";
    ts::WriteFileBytes(path, HelpFile("first!"));
    SetModified(path, 500000000);
    int opened = 0;
    TChmExtractor extractor([&] {
        ++opened;
        return storage::CreateITStorage();
    });
    extractor.Open(path);
    c.change(path);
    extractor.Open(path);
    EXPECT_EQ(opened, c.walkedAgain ? 2 : 1) << c.what;
    EXPECT_EQ(extractor.FileName(), path);
    extractor.Items().ExtractAll(dir / "out");
    const std::string page = test::ReadFile(dir / "out/page.htm");
    if (c.walkedAgain) EXPECT_NE(page, "first!") << c.what;
    else EXPECT_EQ(page, "first!") << c.what;
}

INSTANTIATE_TEST_SUITE_P(Changes, ReOpen, ::testing::ValuesIn(kChangeCases),
                         test::CaseName<ChangeCase>);

}  // namespace
}  // namespace vexmor
