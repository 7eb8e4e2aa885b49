// Building the catalogue: walk order, re-opening, failures and lifetime.
#include <gtest/gtest.h>

#include <utility>

#include "catalogue/uChmExtractor.h"
#include "platform/storage/storage_error.h"
#include "tests/catalogue/fake_storage.h"
#include "tests/common/case_name.h"

namespace vexmor {
namespace {

using test::FakeFiles;
using test::FakeNode;
using test::Storage;
using test::Stream;

struct Row {
    std::string path;
    std::string name;
    std::uint64_t size;
    bool operator==(const Row&) const = default;
};

void PrintTo(const Row& row, std::ostream* out) { *out << "{" << row.path << " | " << row.name << " | " << row.size << "}"; }

std::vector<Row> Rows(const TChmExtractor& extractor) {
    std::vector<Row> rows;
    for (std::size_t i = 0; i < extractor.Items().Count(); ++i) {
        const TChmItem& item = extractor.Items()[i];
        rows.push_back({item.Path, item.Name, item.Size});
    }
    return rows;
}

class CatalogueTest : public ::testing::Test {
protected:
    TChmExtractor MakeExtractor() {
        return TChmExtractor([this] { return files_.CreateComponent(); });
    }
    FakeFiles files_;
};

TEST_F(CatalogueTest, WalksDepthFirstPreOrderAndSkipsEmptyStoragesAndOtherTypes) {
    FakeNode odd = Stream("odd", "");
    odd.type = static_cast<storage::ElementType>(3);
    files_.roots["a.chm"] = Storage("", {
        Stream("first", "1"),
        Storage("sub", {
            Stream("x", "xx"),
            Storage("deeper", {Stream("y", "yyy")}),
            Storage("empty", {Storage("emptier", {})}),
            odd,
            Stream("z", "zzzz"),
        }),
        Stream("last", "55555"),
    });
    TChmExtractor extractor = MakeExtractor();
    extractor.Open("a.chm");

    EXPECT_EQ(Rows(extractor), (std::vector<Row>{
                                   {"", "first", 1},
                                   {"sub", "x", 2},
                                   {"sub/deeper", "y", 3},
                                   {"sub", "z", 4},
                                   {"", "last", 5},
                               }));
    EXPECT_EQ(extractor.FileName(), "a.chm");
}

TEST_F(CatalogueTest, RootHoldingOnlyStoragesGivesNoEmptyPath) {
    files_.roots["a.chm"] = Storage("", {
        Storage("::DataSpace", {Stream("NameList", "n"), Storage("Storage", {Stream("Content", "c")})}),
        Storage("html", {Stream("a.htm", "a")}),
    });
    TChmExtractor extractor = MakeExtractor();
    extractor.Open("a.chm");

    EXPECT_EQ(Rows(extractor), (std::vector<Row>{
                                   {"::DataSpace", "NameList", 1},
                                   {"::DataSpace/Storage", "Content", 1},
                                   {"html", "a.htm", 1},
                               }));
}

TEST_F(CatalogueTest, KeepsTheFull64BitSize) {
    FakeNode big = Stream("big", "");
    big.sizeShown = (std::uint64_t{1} << 32) + 5;
    FakeNode half = Stream("half", "");
    half.sizeShown = std::uint64_t{1} << 31;
    files_.roots["a.chm"] = Storage("", {big, half});
    TChmExtractor extractor = MakeExtractor();
    extractor.Open("a.chm");

    EXPECT_EQ(extractor.Items()[0].Size, (std::uint64_t{1} << 32) + 5);
    EXPECT_EQ(extractor.Items()[1].Size, std::uint64_t{1} << 31);
}

// Whether a second Open walks again, seen through the component creations.
struct ReopenCase {
    const char* first;
    const char* second;
    int componentsCreated;
};

class ReopenTest : public CatalogueTest, public ::testing::WithParamInterface<ReopenCase> {};

TEST_P(ReopenTest, WalksAgainOnlyForAnotherPath) {
    files_.roots["a.chm"] = Storage("", {Stream("one", "1")});
    files_.roots["A.chm"] = Storage("", {Stream("two", "22")});
    files_.roots["b.chm"] = Storage("", {Stream("three", "333")});
    TChmExtractor extractor = MakeExtractor();
    extractor.Open(GetParam().first);
    const TChmItem* firstItem = &extractor.Items()[0];
    extractor.Open(GetParam().second);

    EXPECT_EQ(files_.counters->componentsCreated, GetParam().componentsCreated);
    EXPECT_EQ(extractor.FileName(), GetParam().second);
    ASSERT_EQ(extractor.Items().Count(), 1u);
    EXPECT_EQ(extractor.Items()[0].Size, files_.roots[GetParam().second].children[0].data.size());
    if (GetParam().componentsCreated == 1) {
        EXPECT_EQ(&extractor.Items()[0], firstItem);
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, ReopenTest,
                         ::testing::Values(ReopenCase{"a.chm", "a.chm", 1},   // same bytes: no walk
                                           ReopenCase{"a.chm", "A.chm", 2},   // differs in case only
                                           ReopenCase{"a.chm", "b.chm", 2}),
                         [](const ::testing::TestParamInfo<ReopenCase>& param) {
                             return test::TestNameOf(std::string(param.param.first) + " then " + param.param.second);
                         });

TEST_F(CatalogueTest, FailedOpenAfterAGoodOneLeavesNothingOpen) {
    files_.roots["good.chm"] = Storage("", {Stream("one", "1")});
    TChmExtractor extractor = MakeExtractor();
    extractor.Open("good.chm");

    EXPECT_THROW(extractor.Open("missing.chm"), storage::EStorageError);
    EXPECT_EQ(extractor.FileName(), "");
    EXPECT_EQ(extractor.Items().Count(), 0u);

    // Nothing is open now, so the good file is walked again.
    extractor.Open("good.chm");
    EXPECT_EQ(files_.counters->componentsCreated, 3);
    EXPECT_EQ(extractor.Items().Count(), 1u);
}

TEST_F(CatalogueTest, FailureDuringTheWalkKeepsTheItemsFoundSoFarUntilClear) {
    FakeNode broken = Storage("broken", {Stream("never", "n")});
    broken.failOpen = true;
    files_.roots["a.chm"] = Storage("", {Stream("before", "b"), broken, Stream("after", "a")});
    TChmExtractor extractor = MakeExtractor();

    EXPECT_THROW(extractor.Open("a.chm"), storage::EStorageError);
    EXPECT_EQ(extractor.FileName(), "");
    EXPECT_EQ(Rows(extractor), (std::vector<Row>{{"", "before", 1}}));

    extractor.Clear();
    EXPECT_EQ(extractor.Items().Count(), 0u);
    EXPECT_EQ(files_.counters->liveStorages, 0);
}

TEST_F(CatalogueTest, EmptyPathIsNotTakenForTheOpenFile) {
    TChmExtractor extractor = MakeExtractor();
    EXPECT_THROW(extractor.Open(""), storage::EStorageError);
    EXPECT_EQ(files_.counters->componentsCreated, 1);
}

TEST_F(CatalogueTest, ItemsHoldTheirStoragesUntilClearOrDestruction) {
    files_.roots["a.chm"] = Storage("", {Storage("html", {Storage("sub", {Stream("deep.htm", "deep")})})});
    {
        TChmExtractor extractor = MakeExtractor();
        extractor.Open("a.chm");
        // The walk has let go of its own references; the item's keeps "sub".
        EXPECT_EQ(files_.counters->liveStorages, 2);  // root and sub
        const std::shared_ptr<storage::IStream> stream = extractor.Items()[0].Storage->OpenStream("deep.htm");
        char buffer[8];
        EXPECT_EQ(stream->Read(buffer, sizeof buffer), 4u);

        extractor.Clear();
        EXPECT_EQ(extractor.FileName(), "");
        EXPECT_EQ(files_.counters->liveStorages, 0);

        extractor.Open("a.chm");
    }
    EXPECT_EQ(files_.counters->liveStorages, 0);
}

TEST_F(CatalogueTest, ListsHostileNamesAsTheyAre) {
    files_.roots["a.chm"] = Storage("", {
        Storage("..", {Stream("evil", "e")}),
        Stream(std::string("a\0b", 3), "n"),
        Storage("", {Storage("..", {Stream("x", "x")})}),
        Storage("a", {Storage("", {Stream("y", "y")})}),
    });
    TChmExtractor extractor = MakeExtractor();
    extractor.Open("a.chm");

    // Empty levels stay visible in Path, where the extraction refuses them.
    EXPECT_EQ(Rows(extractor), (std::vector<Row>{{"..", "evil", 1},
                                                 {"", std::string("a\0b", 3), 1},
                                                 {"/..", "x", 1},
                                                 {"a/", "y", 1}}));
}

}  // namespace
}  // namespace vexmor
