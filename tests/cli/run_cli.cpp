#include "tests/cli/run_cli.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>
#include <stdexcept>

#include "tests/common/temp_dir.h"

namespace vexmor::test {

CliRun RunCli(const std::vector<std::string>& args, const std::string& workDir, const std::string& stdoutPath) {
    return RunProgram(VEXMOR_CLI_PATH, args, workDir, stdoutPath);
}

std::string BuiltCliPath() { return VEXMOR_CLI_PATH; }

CliRun RunProgram(const std::string& program, const std::vector<std::string>& args, const std::string& workDir,
                  const std::string& stdoutPath) {
    // Output goes to files, not pipes: no deadlock on large output.
    TempDir capture;
    const std::string outPath = stdoutPath.empty() ? capture / "out" : stdoutPath;
    const std::string errPath = capture / "err";

    std::vector<std::string> argvStrings{program};
    argvStrings.insert(argvStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : argvStrings) argv.push_back(arg.data());
    argv.push_back(nullptr);

    const pid_t child = ::fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0 || ::dup2(out, STDOUT_FILENO) < 0 || ::dup2(err, STDERR_FILENO) < 0 ||
            ::chdir(workDir.c_str()) != 0) {
            ::_exit(127);
        }
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    while (::wait4(child, &status, 0, &usage) < 0) {
        if (errno != EINTR) throw std::runtime_error("wait4 failed");
    }
    CliRun run;
    run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.peakResidentKiB = usage.ru_maxrss;
    if (stdoutPath.empty()) run.out = ReadFile(outPath);
    run.err = ReadFile(errPath);
    return run;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace vexmor::test
