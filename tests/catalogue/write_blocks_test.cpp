// The copy hands the kernel large blocks: a few writes for a stream of many
// mebibytes, counted by the kernel itself (write calls of this process).
#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <string>

#include "catalogue/uChmExtractor.h"
#include "tests/catalogue/fake_storage.h"
#include "tests/common/temp_dir.h"
#include "tests/support/sample_data.h"

namespace vexmor {
namespace {

using test::ReadFile;
using test::TempDir;

// The write calls this process has made so far (all its threads), or
// nullopt where the kernel does not tell.
std::optional<long long> WriteCalls() {
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = 0;
    while (io >> key >> value) {
        if (key == "syscw:") return value;
    }
    return std::nullopt;
}

enum class Way { SaveToFile, ExtractAll };

class WriteBlocksTest : public ::testing::TestWithParam<Way> {};

TEST_P(WriteBlocksTest, TenMebibytesTakeAFewWritesAndTheSameBytes) {
    if (!WriteCalls()) GTEST_SKIP() << "/proc/self/io is not readable here";
    TempDir dir;
    const std::string data = testsupport::SampleString((10 << 20) + 123, 5);
    TChmItems items;
    TChmItem& item = items.Add();
    item.Name = "big.bin";
    item.Size = data.size();
    item.Storage = test::OpenFakeStorage(test::Storage("", {test::Stream("big.bin", data)}),
                                         std::make_shared<test::FakeCounters>());

    const long long before = *WriteCalls();
    if (GetParam() == Way::SaveToFile)
        item.SaveToFile(dir / "big.bin");
    else
        items.ExtractAll(dir.path().string());
    const long long writes = *WriteCalls() - before;

    EXPECT_EQ(ReadFile(dir / "big.bin"), data);
    // Eleven blocks of 1 MiB; 4 KiB ones would be 2,561. The count is the
    // whole process's: the sanitizers' runtime writes a few of its own.
    EXPECT_LE(writes, 64) << writes << " write calls";
}

INSTANTIATE_TEST_SUITE_P(Ways, WriteBlocksTest, ::testing::Values(Way::SaveToFile, Way::ExtractAll),
                         [](const ::testing::TestParamInfo<Way>& param) {
                             return std::string(param.param == Way::SaveToFile ? "SaveToFile" : "ExtractAll");
                         });

}  // namespace
}  // namespace vexmor
