// An export whose items are read and filtered on a thread of their own: the
// same files and the same errors, item by item, as the export that reads as
// it writes, however the writer goes through the items; and no thread left.
#include <algorithm>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "catalogue/folder_export.h"
#include "catalogue/reading_thread.h"
#include "catalogue/uChmExtractor.h"
#include "tests/common/process_threads.h"
#include "tests/common/temp_dir.h"
#include "tests/support/chm_writer.h"
#include "tests/support/sample_data.h"
#include "tests/support/temp_file.h"

namespace vexmor {
namespace {

namespace ts = testsupport;

constexpr std::uint32_t kSpan = 0x8000;

// 30 pages and pictures of 20 000 bytes and one of 300 000, over many
// spans; the fourth span's data starts with an LZX block of type 7, which
// does not exist, so the streams with bytes in it fail and the others
// export.
ts::Bytes DamagedHelpFile() {
    std::vector<ts::ChmEntry> entries;
    for (unsigned i = 0; i < 30; ++i)
        entries.push_back({std::string(i % 2 ? "/odd/" : "/even/") + std::to_string(100 + i) + (i % 3 ? ".htm" : ".gif"),
                           ts::SampleText(20000, i, {.oneIn = 16, .length = 200}), 1});
    entries.push_back({"/big.htm", ts::SampleText(300000, 99, {.oneIn = 16, .length = 200}), 1});
    ts::ChmOptions options;
    options.lzx.resetIntervalBytes = kSpan;
    return ts::WithSpanBroken(ts::BuildChm(entries, options), 3);
}

// Pages up to 100 000 bytes are written in capitals; the filter also counts
// the items it saw, to show that it runs once per item at most.
struct UpperPages {
    int calls = 0;
    ContentFilter filter{
        [](const TChmItem& item) { return item.Name.ends_with(".htm"); },
        [this](const TChmItem&, std::string&& bytes) {
            ++calls;
            std::transform(bytes.begin(), bytes.end(), bytes.begin(), [](unsigned char c) { return std::toupper(c); });
            return std::move(bytes);
        },
        100000,
    };
};

// How the writer goes through the items.
enum class Walk {
    Every,            // each item, failures noted
    EveryThirdLeftOut,  // a selection
    AbortInsideItem4,  // the observer throws after the fourth item's first block; the rest go on
    LeaveHalfway,      // the export is dropped halfway, as on cancel
};

struct WalkCase {
    const char* what;
    Walk walk;
};

const WalkCase kWalks[] = {
    {"Every", Walk::Every},
    {"EveryThirdLeftOut", Walk::EveryThirdLeftOut},
    {"AbortInsideItem4", Walk::AbortInsideItem4},
    {"LeaveHalfway", Walk::LeaveHalfway},
};

class Aborter : public ExportObserver {
public:
    explicit Aborter(bool abort) : abort_(abort) {}
    void Copied(std::uint64_t) override {
        if (abort_) throw std::runtime_error("stopped by the user");
    }

private:
    bool abort_;
};

struct Result {
    std::vector<std::string> errors;  // in the order met, each after the item's place
    std::map<std::string, std::string> tree;
};

Result Export(const std::string& path, Walk walk, bool onThread) {
    TChmExtractor extractor;
    extractor.Open(path);
    const TChmItems& items = extractor.Items();
    test::TempDir dir;
    const std::string out = dir / "out";
    Result result;
    UpperPages pages;
    {
        FolderExport run(items, out);
        std::vector<std::size_t> order;
        for (std::size_t place = 0; place < run.Order().size(); ++place)
            if (walk != Walk::EveryThirdLeftOut || place % 3 != 1) order.push_back(run.Order()[place]);
        if (onThread) run.ReadOnThread(order, &pages.filter);
        for (std::size_t place = 0; place < order.size(); ++place) {
            if (walk == Walk::LeaveHalfway && place == order.size() / 2) break;
            Aborter aborter(walk == Walk::AbortInsideItem4 && place == 3);
            try {
                run.Write(items[order[place]], &aborter, onThread ? nullptr : &pages.filter);
            } catch (const std::exception& e) {
                result.errors.push_back(std::to_string(place) + ": " + e.what());
            }
        }
    }
    EXPECT_LE(pages.calls, 20);
    result.tree = test::SnapshotTree(out);
    return result;
}

class ReadingThreadExport : public ::testing::TestWithParam<WalkCase> {};

TEST_P(ReadingThreadExport, WritesAndFailsAsTheExportThatReadsAsItWrites) {
    const ts::TempFile file(DamagedHelpFile());
    const std::size_t before = test::ProcessThreads();
    const Result onThread = Export(file.string(), GetParam().walk, true);
    EXPECT_EQ(test::ProcessThreads(), before);
    const Result expected = Export(file.string(), GetParam().walk, false);
    EXPECT_EQ(onThread.errors, expected.errors);
    EXPECT_EQ(onThread.tree, expected.tree);
    // The damage and the filter are met in every walk.
    EXPECT_FALSE(expected.errors.empty());
    EXPECT_TRUE(std::any_of(expected.tree.begin(), expected.tree.end(), [](const auto& file) {
        // A snapshot holds "file " and the bytes.
        return file.first.ends_with(".htm") && file.second.size() == 5 + 20000 &&
               std::none_of(file.second.begin() + 5, file.second.end(), [](unsigned char c) { return std::islower(c); });
    }));
}

INSTANTIATE_TEST_SUITE_P(Cases, ReadingThreadExport, ::testing::ValuesIn(kWalks),
                         [](const ::testing::TestParamInfo<WalkCase>& param) { return param.param.what; });

// Pieces far smaller than the streams, and a queue that holds a few: each
// stream comes whole and in order, and the reading waits for the writer.
TEST(ReadingThread, SmallPiecesAndQueueGiveEachStreamWhole) {
    std::vector<ts::ChmEntry> entries;
    for (unsigned i = 0; i < 6; ++i)
        entries.push_back({"/s" + std::to_string(i) + ".bin", ts::SampleText(10000 + 777 * i, i, {}), 1});
    const ts::TempFile file(ts::BuildChm(entries, {}).bytes);
    TChmExtractor extractor;
    extractor.Open(file.string());
    const TChmItems& items = extractor.Items();
    std::vector<std::size_t> order;
    std::map<std::string, std::string> expected;
    for (std::size_t i = 0; i < items.Count(); ++i) {
        if (!items[i].Name.ends_with(".bin")) continue;
        order.push_back(i);
        const unsigned n = items[i].Name[1] - '0';
        const ts::Bytes text = ts::SampleText(10000 + 777 * n, n, {});
        expected[items[i].Name] = std::string(text.begin(), text.end());
    }
    ASSERT_EQ(order.size(), 6u);
    ReadingThread reading(items, order, nullptr, 1000, 3000);
    for (const std::size_t index : order) {
        std::string bytes;
        int pieces = 0;
        for (bool last = false; !last;) {
            ReadPiece piece = reading.Next(items[index]);
            ASSERT_FALSE(piece.failure);
            EXPECT_LE(piece.bytes.size(), 1000u + 4096u);
            bytes += piece.bytes;
            last = piece.last;
            ++pieces;
        }
        EXPECT_GE(pieces, 3);
        EXPECT_EQ(bytes, expected[items[index].Name]) << items[index].Name;
    }
}

// The writer asking for an item that is behind it, or asking twice, is a
// fault of the caller: said, never a wait.
TEST(ReadingThread, AnItemBehindTheWriterIsRefused) {
    std::vector<ts::ChmEntry> entries;
    for (unsigned i = 0; i < 3; ++i) entries.push_back({"/s" + std::to_string(i) + ".bin", ts::Bytes(100, 'a' + i), 1});
    const ts::TempFile file(ts::BuildChm(entries, {}).bytes);
    TChmExtractor extractor;
    extractor.Open(file.string());
    const TChmItems& items = extractor.Items();
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < items.Count(); ++i)
        if (items[i].Name.ends_with(".bin")) order.push_back(i);
    ASSERT_EQ(order.size(), 3u);
    ReadingThread reading(items, order, nullptr);
    EXPECT_EQ(reading.Next(items[order[1]]).bytes, std::string(100, 'b'));
    EXPECT_THROW(reading.Next(items[order[0]]), EChmExtractError);
    EXPECT_THROW(reading.Next(items[order[1]]), EChmExtractError);
    EXPECT_EQ(reading.Next(items[order[2]]).bytes, std::string(100, 'c'));
}

}  // namespace
}  // namespace vexmor
