// Every stream of the big shared fixture is byte-exact. It is read by path
// and never copied into the test data.
#include <filesystem>

#include <gtest/gtest.h>

#include "tests/storage/fixture_check.h"

namespace vexmor::test {
namespace {

TEST(LargeFixture, EveryStreamOfLclIsByteExact) {
    const FixtureFiles lcl = SharedFixture("lcl");
    if (!std::filesystem::exists(lcl.chm) || !std::filesystem::exists(lcl.manifest))
        GTEST_SKIP() << "lcl.chm and lcl.sha256 are not in " << SharedFixturesFolder() << ": large test skipped";
    ExpectFileMatchesManifest(lcl);
}

}  // namespace
}  // namespace vexmor::test
