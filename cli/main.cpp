// vexmorchm-cli: lists, exports and prints the streams of a compiled help
// file, for scripts and batch use.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "cli/cli_args.h"
#include "cli/commands.h"
#include "cli/output.h"

namespace {

constexpr const char* kHelp =
    "Usage: vexmorchm-cli list FILE\n"
    "       vexmorchm-cli extract [--keep-going] [--stats] FILE [DIR]\n"
    "       vexmorchm-cli cat FILE INNER-PATH\n"
    "       vexmorchm-cli --help | --version\n"
    "\n"
    "Reads the streams of a compiled HTML help file (.chm).\n"
    "\n"
    "  list      one line per stream, in the file's order: size in bytes, a tab,\n"
    "            inner path and name (the name alone at the root)\n"
    "  extract   writes every stream under DIR, rebuilding the inner folders;\n"
    "            DIR defaults to a folder named after FILE without its extension.\n"
    "            Stops at the first failure unless --keep-going is given. What stands\n"
    "            in DIR (files, links, FIFOs) is replaced once the new file is\n"
    "            complete, never written through; a link or file where an inner\n"
    "            folder must be is a failure, never followed.\n"
    "            --stats ends with 'decode work: X.XX', the bytes decoded over the\n"
    "            compressed section's length (1.00: every part decoded once)\n"
    "  cat       writes the bytes of the stream INNER-PATH (as list shows it) to stdout\n"
    "\n"
    "Exit status: 0 success, 1 failure, 2 wrong command line.\n";

int Run(const vexmor::cli::Command& command) {
    using namespace vexmor::cli;
    if (const auto* list = std::get_if<ListCommand>(&command)) return RunList(*list);
    if (const auto* extract = std::get_if<ExtractCommand>(&command)) return RunExtract(*extract);
    if (const auto* cat = std::get_if<CatCommand>(&command)) return RunCat(*cat);
    if (std::holds_alternative<HelpCommand>(command)) {
        std::fputs(kHelp, stdout);
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
