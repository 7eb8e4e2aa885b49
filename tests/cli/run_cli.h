// Runs the built vexmorchm-cli as a child process and collects what it did,
// its peak memory included.
#pragma once

#include <string>
#include <vector>

namespace vexmor::test {

struct CliRun {
    int exitStatus = -1;  // -1 when it did not exit normally (a signal)
    std::string out;
    std::string err;
    long peakResidentKiB = 0;
};

// `args` after the program name. `workDir` becomes the child's current
// folder; `stdoutPath`, when given, receives stdout instead of `out`.
CliRun RunCli(const std::vector<std::string>& args, const std::string& workDir, const std::string& stdoutPath = {});

// The same with the program at `program` (a copy of the built one).
CliRun RunProgram(const std::string& program, const std::vector<std::string>& args, const std::string& workDir,
                  const std::string& stdoutPath = {});

// Where the built vexmorchm-cli is.
std::string BuiltCliPath();

// `text` cut at its newlines, without them.
std::vector<std::string> Lines(const std::string& text);

}  // namespace vexmor::test
