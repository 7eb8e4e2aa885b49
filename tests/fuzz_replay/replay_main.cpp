// Runs the inputs of the given folders through one fuzz target's harness, in
// name order, printing each before it runs so that a failure names its input.
// Usage: fuzz_replay reader|lzx|extract|extract_ahead|order|site|epub_page FOLDER...
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/harness/fuzz_targets.h"

namespace {

namespace fs = std::filesystem;
using Target = void (*)(const std::uint8_t*, std::size_t);

Target TargetNamed(const std::string& name) {
    if (name == "reader") return vexmor::fuzz::RunReader;
    if (name == "lzx") return vexmor::fuzz::RunLzx;
    if (name == "extract") return vexmor::fuzz::RunExtract;
    if (name == "extract_ahead") return vexmor::fuzz::RunExtractReadingAhead;
    if (name == "order") return vexmor::fuzz::RunOrder;
    if (name == "site") return vexmor::fuzz::RunSite;
    if (name == "epub_page") return vexmor::fuzz::RunEpubPage;
    return nullptr;
}

// The inputs of `folder`, sorted; notes such as README are not inputs.
std::vector<fs::path> Inputs(const fs::path& folder) {
    std::vector<fs::path> inputs;
    if (!fs::is_directory(folder)) return inputs;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_regular_file() && name.rfind("README", 0) != 0) inputs.push_back(entry.path());
    }
    std::sort(inputs.begin(), inputs.end());
    return inputs;
}

}  // namespace

int main(int argc, char** argv) {
    const Target target = argc >= 2 ? TargetNamed(argv[1]) : nullptr;
    if (!target) {
        std::fprintf(stderr, "usage: fuzz_replay reader|lzx|extract|extract_ahead|order FOLDER...\n");
        return 2;
    }
    std::size_t count = 0;
    for (int i = 2; i < argc; ++i) {
        for (const fs::path& input : Inputs(argv[i])) {
            std::printf("%s\n", input.string().c_str());
            std::fflush(stdout);
            std::ifstream file(input, std::ios::binary);
            const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
            target(bytes.data(), bytes.size());
            ++count;
        }
    }
    std::printf("%zu inputs replayed through the %s target\n", count, argv[1]);
    return 0;
}
