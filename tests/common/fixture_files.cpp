#include "tests/common/fixture_files.h"

namespace vexmor::test {

std::string DataFile(const std::string& name) { return std::string(VEXMOR_TEST_DATA_DIR) + "/" + name; }

std::string SharedFixtureFile(const std::string& name) { return SharedFixturesFolder() + "/" + name; }

std::string SharedFixturesFolder() { return VEXMOR_SHARED_FIXTURES_DIR; }

FixtureFiles DataFixture(const std::string& stem) {
    return {DataFile(stem + ".chm"), DataFile(stem + ".sha256")};
}

FixtureFiles SharedFixture(const std::string& stem) {
    return {SharedFixtureFile(stem + ".chm"), SharedFixtureFile(stem + ".sha256")};
}

}  // namespace vexmor::test
