// Every stream of the real help files in the test data is byte-exact.
#include <gtest/gtest.h>

#include "tests/storage/fixture_check.h"

namespace vexmor::test {
namespace {

class Fixture : public ::testing::TestWithParam<const char*> {};

TEST_P(Fixture, EveryStreamIsByteExact) {
    const std::string base = std::string(VEXMOR_TEST_DATA_DIR) + "/" + GetParam();
    ExpectFileMatchesManifest(base + ".chm", base + ".sha256");
}

INSTANTIATE_TEST_SUITE_P(Fixtures, Fixture, ::testing::Values("small", "openmcdf"));

}  // namespace
}  // namespace vexmor::test
