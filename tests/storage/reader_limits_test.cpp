// The largest window and span a caller accepts: a compressed section within
// them reads as without limits; one beyond them is refused at every opening
// of its streams with the reader's error, before anything is decoded, while listing and
// stored streams still work.
#include <string>

#include <gtest/gtest.h>

#include "platform/storage/storage.h"
#include "platform/storage/storage_error.h"
#include "tests/common/case_name.h"
#include "tests/storage/storage_walk.h"
#include "tests/support/chm_writer.h"
#include "tests/support/sample_data.h"
#include "tests/support/temp_file.h"

namespace vexmor::test {
namespace {

constexpr std::uint32_t kWindow = 1u << 16;
constexpr std::uint32_t kSpan = 64u << 10;

const std::string kPacked = testsupport::SampleString(3 * kSpan / 2, 1);  // two spans
const std::string kStored = testsupport::SampleString(1000, 2);

testsupport::ChmImage TwoSpanFile() {
    testsupport::ChmOptions options;
    options.lzx.windowBits = 16;
    options.lzx.resetIntervalBytes = kSpan;
    return testsupport::BuildChm({{"/packed.htm", testsupport::SampleText(kPacked.size(), 1), 1},
                                  {"/stored.bin", testsupport::SampleText(kStored.size(), 2), 0}},
                                 options);
}

struct LimitCase {
    const char* what;
    std::uint32_t largestWindow;
    std::uint32_t largestSpan;
    bool refused;
};

constexpr LimitCase kLimitCases[] = {
    {"defaults", storage::kLargestWindow, storage::kLargestSpan, false},
    {"window at the file's", kWindow, storage::kLargestSpan, false},
    {"window above the file's", 2 * kWindow, storage::kLargestSpan, false},
    {"window below the file's", kWindow / 2, storage::kLargestSpan, true},
    {"span at the file's", storage::kLargestWindow, kSpan, false},
    {"span above the file's", storage::kLargestWindow, 2 * kSpan, false},
    {"span below the file's", storage::kLargestWindow, kSpan / 2, true},
    {"both at the file's", kWindow, kSpan, false},
    {"nothing allowed", 0, 0, true},
};

class ReaderLimit : public ::testing::TestWithParam<LimitCase> {};

TEST_P(ReaderLimit, CompressedSectionReadsWholeOrIsRefusedBeforeAnyByte) {
    const LimitCase& c = GetParam();
    const testsupport::TempFile file(TwoSpanFile().bytes);
    storage::ReaderOptions options;
    options.largestWindow = c.largestWindow;
    options.largestSpan = c.largestSpan;
    const auto component = storage::CreateITStorageWithOptions(options);
    const auto root = component->StgOpenStorage(file.string());

    EXPECT_EQ(ReadAll(*root->OpenStream("stored.bin")), kStored);
    if (!c.refused) {
        EXPECT_EQ(ReadAll(*root->OpenStream("packed.htm")), kPacked);
        return;
    }
    // Refused when the stream is opened, and again at every later try: a
    // caller retrying gets no bytes either.
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            const std::string read = ReadAll(*root->OpenStream("packed.htm"));
            ADD_FAILURE() << "a section past the limit delivered " << read.size() << " bytes";
        } catch (const storage::EStorageError& e) {
            EXPECT_EQ(e.ErrorCode(), storage::code::kInsufficientMemory);
            EXPECT_NE(std::string(e.what()).find("allowed"), std::string::npos) << e.what();
        }
    }
    EXPECT_EQ(component->Statistics().decodedBytes, 0u);
    EXPECT_EQ(ReadAll(*root->OpenStream("stored.bin")), kStored);
}

INSTANTIATE_TEST_SUITE_P(Cases, ReaderLimit, ::testing::ValuesIn(kLimitCases), CaseName<LimitCase>);

}  // namespace
}  // namespace vexmor::test
