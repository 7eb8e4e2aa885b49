// Every stream of the big shared fixture is byte-exact. It is read by path
// and never copied into the test data.
#include <filesystem>

#include <gtest/gtest.h>

#include "tests/storage/fixture_check.h"

namespace vexmor::test {
namespace {

TEST(LargeFixture, EveryStreamOfLclIsByteExact) {
    const std::string base = std::string(VEXMOR_SHARED_FIXTURES_DIR) + "/lcl";
    if (!std::filesystem::exists(base + ".chm") || !std::filesystem::exists(base + ".sha256"))
        GTEST_SKIP() << "lcl.chm and lcl.sha256 are not in " << VEXMOR_SHARED_FIXTURES_DIR << ": large test skipped";
    ExpectFileMatchesManifest(base + ".chm", base + ".sha256");
}

}  // namespace
}  // namespace vexmor::test
