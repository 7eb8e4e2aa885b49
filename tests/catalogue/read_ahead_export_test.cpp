// Export all with its spans decoded ahead on worker threads: the same files,
// the same errors in the same order and the same first failure as a reader
// alone, however the export ends; and no worker left once it has ended.
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "catalogue/folder_export.h"
#include "catalogue/inner_name.h"
#include "catalogue/uChmExtractor.h"
#include "tests/common/case_name.h"
#include "tests/common/process_threads.h"
#include "tests/common/temp_dir.h"
#include "tests/support/chm_writer.h"
#include "tests/support/sample_data.h"
#include "tests/support/temp_file.h"

namespace vexmor {
namespace {

namespace ts = testsupport;

constexpr std::uint32_t kSpan = 0x8000;

// 24 pages of 20 000 bytes in two folders, over 15 spans; the eighth span's
// data starts with an LZX block of type 7, which does not exist, so the
// pages with bytes in it fail and the others export.
ts::Bytes DamagedHelpFile() {
    std::vector<ts::ChmEntry> entries;
    for (unsigned i = 0; i < 24; ++i)
        entries.push_back({std::string(i % 2 ? "/odd/" : "/even/") + std::to_string(100 + i) + ".htm",
                           ts::SampleText(20000, i, {.oneIn = 16, .length = 200}), 1});
    ts::ChmOptions options;
    options.lzx.resetIntervalBytes = kSpan;
    return ts::WithSpanBroken(ts::BuildChm(entries, options), 7);
}

struct Setup {
    const char* what;
    unsigned workers;
    std::size_t spansPerWorker;
};

const Setup kSetups[] = {
    {"OneWorker", 1, 4},
    {"TwoWorkers", 2, 4},
    {"PoolOfOneSpan", 6, 0},
};

// How the export ends.
enum class Ending {
    KeepGoing,         // every item written on its own, failures noted, as extract --keep-going
    FirstFailure,      // ExtractAll: stops at the damaged span
    CancelBeforeItem5,  // the observer says stop before the fifth item
    AbortInsideItem4,   // the observer throws after the first block of the fourth item
};

struct EndingCase {
    const char* what;
    Ending ending;
};

const EndingCase kEndings[] = {
    {"KeepGoing", Ending::KeepGoing},
    {"FirstFailure", Ending::FirstFailure},
    {"CancelBeforeItem5", Ending::CancelBeforeItem5},
    {"AbortInsideItem4", Ending::AbortInsideItem4},
};

class Stopper : public ExportObserver {
public:
    explicit Stopper(Ending ending) : ending_(ending) {}
    bool BeforeItem(const TChmItem&) override { return !(++items_ == 5 && ending_ == Ending::CancelBeforeItem5); }
    void Copied(std::uint64_t) override {
        if (items_ == 4 && ending_ == Ending::AbortInsideItem4) throw std::runtime_error("stopped by the user");
    }

private:
    Ending ending_;
    int items_ = 0;
};

struct Result {
    std::vector<std::string> errors;  // in the order met
    std::map<std::string, std::string> tree;
};

Result Export(const std::string& path, const storage::ReaderOptions& options, Ending ending) {
    TChmExtractor extractor([&] { return storage::CreateITStorageWithOptions(options); });
    extractor.Open(path);
    test::TempDir dir;
    const std::string out = dir / "out";
    Result result;
    Stopper stopper(ending);
    if (ending == Ending::KeepGoing) {
        FolderExport run(extractor.Items(), out);
        for (const std::size_t index : run.Order()) {
            try {
                run.Write(extractor.Items()[index]);
            } catch (const std::exception& e) {
                result.errors.push_back(e.what());
            }
        }
    } else {
        try {
            extractor.Items().ExtractAll(out, &stopper);
        } catch (const std::exception& e) {
            result.errors.push_back(e.what());
        }
    }
    result.tree = test::SnapshotTree(out);
    return result;
}

class ReadAheadExport : public ::testing::TestWithParam<std::tuple<Setup, EndingCase>> {};

TEST_P(ReadAheadExport, WritesAndFailsAsAReaderAloneAndLeavesNoWorker) {
    const auto& [setup, ending] = GetParam();
    const ts::TempFile file(DamagedHelpFile());
    storage::ReaderOptions options;
    options.readAheadWorkers = setup.workers;
    options.readAheadSpansPerWorker = setup.spansPerWorker;
    storage::ReaderOptions alone;
    alone.readAhead = false;

    const std::size_t before = test::ProcessThreads();
    const Result ahead = Export(file.string(), options, ending.ending);
    EXPECT_EQ(test::ProcessThreads(), before);
    const Result expected = Export(file.string(), alone, ending.ending);
    EXPECT_EQ(ahead.errors, expected.errors);
    EXPECT_EQ(ahead.tree, expected.tree);

    // The damage is met at all only by the endings that reach the eighth span.
    switch (ending.ending) {
        case Ending::KeepGoing:
            EXPECT_GE(ahead.errors.size(), 2u);
            EXPECT_GE(ahead.tree.size(), 20u);
            break;
        case Ending::FirstFailure:
            EXPECT_EQ(ahead.errors.size(), 1u);
            break;
        case Ending::CancelBeforeItem5:
            EXPECT_TRUE(ahead.errors.empty());
            break;
        case Ending::AbortInsideItem4:
            EXPECT_EQ(ahead.errors, std::vector<std::string>{"stopped by the user"});
            break;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ReadAheadExport, ::testing::Combine(::testing::ValuesIn(kSetups), ::testing::ValuesIn(kEndings)),
                         [](const ::testing::TestParamInfo<std::tuple<Setup, EndingCase>>& param) {
                             return std::string(std::get<0>(param.param).what) + "_" + std::get<1>(param.param).what;
                         });

}  // namespace
}  // namespace vexmor
