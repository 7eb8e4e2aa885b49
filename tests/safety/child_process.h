// Runs the built vexmorchm-cli as a child process and reports what it did,
// its peak memory included.
#pragma once

#include <string>
#include <vector>

namespace vexmor::test {

struct ChildRun {
    int exitStatus = -1;  // -1 when it did not exit normally (a signal)
    std::string out;
    std::string err;
    long peakResidentKiB = 0;
};

// `args` after the program name; `workDir` becomes the child's current folder.
ChildRun RunCliProgram(const std::vector<std::string>& args, const std::string& workDir);

}  // namespace vexmor::test
