// Every stream of the real help files in the test data is byte-exact.
#include <gtest/gtest.h>

#include "tests/storage/fixture_check.h"

namespace vexmor::test {
namespace {

class Fixture : public ::testing::TestWithParam<const char*> {};

TEST_P(Fixture, EveryStreamIsByteExact) {
    ExpectFileMatchesManifest(DataFixture(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Fixtures, Fixture, ::testing::Values("small", "openmcdf"),
                         [](const ::testing::TestParamInfo<const char*>& param) { return std::string(param.param); });

}  // namespace
}  // namespace vexmor::test
