// Where the tests find the real help files they read: the small ones copied
// into the test data, and the large one shared beside the repository (which
// may be absent). Each help file NAME.chm has its manifest NAME.sha256.
#pragma once

#include <string>

namespace vexmor::test {

// `name` in the test data folder, e.g. DataFile("small.chm").
std::string DataFile(const std::string& name);
// `name` in the shared fixtures folder, e.g. SharedFixtureFile("lcl.chm").
std::string SharedFixtureFile(const std::string& name);
// The shared fixtures folder, for messages that say where a file is missing.
std::string SharedFixturesFolder();

// A help file and its manifest.
struct FixtureFiles {
    std::string chm;
    std::string manifest;
};

// The help file `stem` (without extension) of the test data.
FixtureFiles DataFixture(const std::string& stem);
// The help file `stem` (without extension) of the shared fixtures.
FixtureFiles SharedFixture(const std::string& stem);

}  // namespace vexmor::test
