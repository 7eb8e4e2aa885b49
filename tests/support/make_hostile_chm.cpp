// Writes a help file that costs a careless reader far more than its size,
// for the figures in docs/benchmarks.md:
//   vexmor-make-hostile-chm round-robin OUT.chm   65,000 one-byte streams over three 8 MiB spans
//   vexmor-make-hostile-chm overlap OUT.chm       15,000 streams claiming the same MiB (15 GiB declared)
//   vexmor-make-hostile-chm slashes OUT.chm       one name: a letter and a million slashes
//   vexmor-make-hostile-chm levels OUT.chm        one name of 500,000 levels a/a/a/...
//   vexmor-make-hostile-chm sparse OUT.chm        a 2 GiB directory declared in a sparse file
//   vexmor-make-hostile-chm folders OUT.chm       30,000 names of 255 levels, no two sharing a folder
#include <cstdio>
#include <string>

#include "tests/support/hostile_chm.h"
#include "tests/support/temp_file.h"

int main(int argc, char** argv) {
    using namespace vexmor::testsupport;
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s round-robin|overlap|slashes|levels|sparse|folders OUT.chm\n", argv[0]);
        return 2;
    }
    const std::string kind = argv[1];
    const char* out = argv[2];
    std::string levels;
    for (int i = 0; i < 500000; ++i) levels += "/a";
    if (kind == "round-robin")
        WriteFileBytes(out, RoundRobinChm(65000, 8u << 20, 3).bytes);
    else if (kind == "overlap")
        WriteFileBytes(out, OverlappingChm(15000, 1u << 20).bytes);
    else if (kind == "slashes")
        WriteFileBytes(out, NamedChm("/x" + std::string(1000000, '/')).bytes);
    else if (kind == "levels")
        WriteFileBytes(out, NamedChm(levels + "/f").bytes);
    else if (kind == "folders")
        WriteFileBytes(out, ManyFoldersChm(30000, 255).bytes);
    else if (kind == "sparse")
        DeclareSparseDirectory(out, BuildChm({{"/ok.txt", ToBytes("fine"), 0}}), 2ull << 30);
    else {
        std::fprintf(stderr, "unknown kind %s\n", kind.c_str());
        return 2;
    }
    return 0;
}
