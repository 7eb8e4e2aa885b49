// vexmorchm-cli: lists, exports, prints and tests the streams of a compiled
// help file and tells what the file is, for scripts and batch use.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "cli/cli_args.h"
#include "cli/commands.h"
#include "cli/output.h"

namespace {

int Run(const vexmor::cli::Command& command) {
    using namespace vexmor::cli;
    if (const auto* list = std::get_if<ListCommand>(&command)) return RunList(*list);
    if (const auto* extract = std::get_if<ExtractCommand>(&command)) return RunExtract(*extract);
    if (const auto* site = std::get_if<SiteCommand>(&command)) return RunSite(*site);
    if (const auto* epub = std::get_if<EpubCommand>(&command)) return RunEpub(*epub);
    if (const auto* cat = std::get_if<CatCommand>(&command)) return RunCat(*cat);
    if (const auto* test = std::get_if<TestCommand>(&command)) return RunTest(*test);
    if (const auto* info = std::get_if<InfoCommand>(&command)) return RunInfo(*info);
    if (std::holds_alternative<HelpCommand>(command)) {
        std::fputs(UsageText(kProgramName).c_str(), stdout);
        return kExitOk;
    }
    if (std::holds_alternative<VersionCommand>(command)) {
        std::printf("%s %s\n", kProgramName, VEXMOR_VERSION);
        return kExitOk;
    }
    Message(std::get<UsageError>(command).message);
    std::fprintf(stderr, "Try '%s --help' for more information.\n", kProgramName);
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    try {
        const int status = Run(vexmor::cli::ParseCommandLine(args));
        if (std::fflush(stdout) != 0) {
            vexmor::cli::Message("cannot write to standard output");
            return vexmor::cli::kExitFailure;
        }
        return status;
    } catch (const std::exception& e) {
        vexmor::cli::Message(e.what());
        return vexmor::cli::kExitFailure;
    }
}
