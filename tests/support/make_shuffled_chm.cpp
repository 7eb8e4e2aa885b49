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
#include "tests/support/temp_file.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUT.chm [STREAMS] [BYTES-PER-STREAM]\n", argv[0]);
        return 2;
    }
    const std::size_t streams = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 400;
    const std::size_t size = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 6000;
    using namespace vexmor::testsupport;
    std::mt19937 random(42);
    std::vector<ChmEntry> entries;
    const std::string words[] = {"<p>", "help ", "topic ", "index ", "</p>\n", "section ", "0123456789 "};
    for (std::size_t i = 0; i < streams; ++i) {
        ChmEntry entry;
        entry.name = "/html/page" + std::to_string(100000 + i) + ".html";
        entry.section = 1;
        while (entry.bytes.size() < size) {
            const std::string& w = words[random() % 7];
            entry.bytes.insert(entry.bytes.end(), w.begin(), w.end());
            if (random() % 8 == 0) entry.bytes.push_back(static_cast<std::uint8_t>(random()));
        }
        entries.push_back(std::move(entry));
    }
    ChmOptions options;
    options.storageOrder.resize(entries.size());
    std::iota(options.storageOrder.begin(), options.storageOrder.end(), 0);
    std::shuffle(options.storageOrder.begin(), options.storageOrder.end(), random);
    WriteFileBytes(argv[1], BuildChm(entries, options).bytes);
    return 0;
}
