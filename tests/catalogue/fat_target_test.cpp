// Exports onto FAT and exFAT volumes (through FUSE), which refuse characters
// that inner names hold, fold names that differ in case to one, and have no
// nameless files.
#include <gtest/gtest.h>

#include <filesystem>
#include <utility>
#include <vector>

#include "catalogue/folder_export.h"
#include "catalogue/inner_name.h"
#include "catalogue/uChmExtractor.h"
#include "tests/catalogue/fake_storage.h"
#include "tests/common/fat_mount.h"
#include "tests/common/temp_dir.h"
#include "tests/support/sample_data.h"

namespace vexmor {
namespace {

namespace fs = std::filesystem;
using test::ListTree;
using test::ReadFile;

using Renames = std::vector<std::pair<std::string, std::string>>;

class RenameLog : public ExportObserver {
public:
    void Renamed(const TChmItem& item, const std::string& writtenAs) override {
        renames.emplace_back(InnerPathAndName(item.Path, item.Name), writtenAs);
    }
    Renames renames;
};

class FatTargetTest : public ::testing::TestWithParam<test::VolumeKind> {
protected:
    void SetUp() override {
        if (!fat_.Mounted()) GTEST_SKIP() << fat_.WhyNot();
    }
    TChmItem& Add(const std::string& path, const std::string& name, const std::string& data) {
        TChmItem& item = items_.Add();
        item.Path = path;
        item.Name = name;
        item.Size = data.size();
        item.Storage = test::OpenFakeStorage(test::Storage("", {test::Stream(name, data)}), counters_);
        return item;
    }

    test::FatMount fat_{GetParam()};
    TChmItems items_;
    std::shared_ptr<test::FakeCounters> counters_ = std::make_shared<test::FakeCounters>();
};

TEST_P(FatTargetTest, ExportAllWritesEveryStreamAndNamesEachRenamedOneOnce) {
    const std::string big = testsupport::SampleString(300000, 7);
    Add("::DataSpace/Storage/MSCompressed", "Content", big);
    Add("::DataSpace/Storage/MSCompressed", "ControlData", "cd");
    Add("::DataSpace", "NameList", "nl");
    Add("", "#SYSTEM", "sys");
    Add("html", "a:b?.html", "q");
    Add("html", "50%.html", "p");
    Add("html", "dot.", "d");
    RenameLog log;

    items_.ExtractAll(fat_ / "out", &log);

    EXPECT_EQ(log.renames, (Renames{{"::DataSpace/Storage/MSCompressed/Content", "%3A%3ADataSpace/Storage/MSCompressed/Content"},
                                    {"::DataSpace/Storage/MSCompressed/ControlData",
                                     "%3A%3ADataSpace/Storage/MSCompressed/ControlData"},
                                    {"::DataSpace/NameList", "%3A%3ADataSpace/NameList"},
                                    {"html/a:b?.html", "html/a%3Ab%3F.html"}}))
        << "in storage order, once each";
    EXPECT_EQ(ReadFile(fat_ / "out/%3A%3ADataSpace/Storage/MSCompressed/Content"), big);
    EXPECT_EQ(ReadFile(fat_ / "out/%3A%3ADataSpace/NameList"), "nl");
    EXPECT_EQ(ReadFile(fat_ / "out/html/a%3Ab%3F.html"), "q");
    EXPECT_EQ(ReadFile(fat_ / "out/html/50%.html"), "p");
    EXPECT_EQ(ReadFile(fat_ / "out/#SYSTEM"), "sys");
    // Nothing left aside.
    for (const std::string& name : ListTree(fat_ / "out")) EXPECT_EQ(name.find(".vexmor"), std::string::npos) << name;
}

TEST_P(FatTargetTest, ExportThisWritesTheProposedNameAsItsSubstitute) {
    const TChmItem& item = Add("", "what?.html", "page");
    RenameLog log;

    item.SaveToFile(fat_ / "what?.html", &log);

    EXPECT_EQ(log.renames, (Renames{{"what?.html", "what%3F.html"}}));
    EXPECT_EQ(ReadFile(fat_ / "what%3F.html"), "page");
    EXPECT_EQ(ListTree(fat_.Root()), std::vector<std::string>{"what%3F.html"});
}

TEST_P(FatTargetTest, TwoNamesTheTargetFoldsToOneAreTheDuplicateRefusal) {
    Add("", "Page.html", "upper");
    Add("", "page.html", "lower");
    FolderExport run(items_, fat_ / "out");
    ASSERT_EQ(run.Order().size(), 2u);

    run.Write(items_[run.Order()[0]]);
    try {
        run.Write(items_[run.Order()[1]]);
        FAIL() << "the second name was written over the first";
    } catch (const EChmExtractError& e) {
        EXPECT_STREQ(e.what(), "两项的目标是同一文件-Page.html, page.html");
    }
    EXPECT_EQ(ReadFile(fat_ / "out/Page.html"), "upper");
}

// On a target that keeps both spellings, they are two files, also when an
// earlier export left both there: the second export replaces each.
TEST(CaseSensitiveTarget, TwoSpellingsAreTwoFilesAlsoOverAnEarlierExport) {
    const auto counters = std::make_shared<test::FakeCounters>();
    TChmItems items;
    for (const auto& [name, data] : {std::pair{"Page.html", "upper"}, std::pair{"page.html", "lower"}}) {
        TChmItem& item = items.Add();
        item.Name = name;
        item.Size = std::string(data).size();
        item.Storage = test::OpenFakeStorage(test::Storage("", {test::Stream(name, data)}), counters);
    }
    const test::TempDir dir;
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        items.ExtractAll(dir / "out");
        EXPECT_EQ(ReadFile(dir / "out/Page.html"), "upper");
        EXPECT_EQ(ReadFile(dir / "out/page.html"), "lower");
    }
}

INSTANTIATE_TEST_SUITE_P(Volumes, FatTargetTest, ::testing::Values(test::VolumeKind::Fat, test::VolumeKind::ExFat),
                         [](const ::testing::TestParamInfo<test::VolumeKind>& param) {
                             return test::VolumeKindName(param.param);
                         });

}  // namespace
}  // namespace vexmor
