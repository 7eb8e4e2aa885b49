// Writes a help file whose streams are stored in an order unrelated to their
// names, for measuring how often Export all decodes a span again:
//   vexmor-make-shuffled-chm OUT.chm [STREAMS] [BYTES-PER-STREAM]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <random>
#include <string>

#include "tests/support/chm_writer.h"
#include "tests/support/sample_data.h"
#include "tests/support/temp_file.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUT.chm [STREAMS] [BYTES-PER-STREAM]\n", argv[0]);
        return 2;
    }
    const std::size_t streams = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 400;
    const std::size_t size = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 6000;
    using namespace vexmor::testsupport;
    std::vector<ChmEntry> entries;
    for (std::size_t i = 0; i < streams; ++i) {
        ChmEntry entry;
        entry.name = "/html/page" + std::to_string(100000 + i) + ".html";
        entry.section = 1;
        entry.bytes = SampleText(size, static_cast<unsigned>(i), {.oneIn = 8, .length = 1});
        entries.push_back(std::move(entry));
    }
    ChmOptions options;
    options.storageOrder.resize(entries.size());
    std::iota(options.storageOrder.begin(), options.storageOrder.end(), 0);
    std::shuffle(options.storageOrder.begin(), options.storageOrder.end(), std::mt19937(42));
    WriteFileBytes(argv[1], BuildChm(entries, options).bytes);
    return 0;
}
