#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "catalogue/in_out_error.h"
#include "catalogue/folder_export.h"
#include "catalogue/uChmExtractor.h"
#include "fuzz/harness/fuzz_targets.h"
#include "fuzz/harness/scratch_folder.h"
#include "platform/storage/storage_error.h"

namespace vexmor::fuzz {

namespace {

namespace fs = std::filesystem;

// Declared bytes one run may write. A tiny input can declare streams of
// terabytes; the cap bounds the disk and time of a run. Larger items are
// skipped, the others are still extracted one by one.
constexpr std::uint64_t kWriteBudget = 32u << 20;

[[noreturn]] void Broken(const std::string& what) {
    std::fprintf(stderr, "guarantee broken: %s\n", what.c_str());
    std::abort();
}

// The names directly inside `folder`, sorted.
std::set<std::string> Names(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

void Extract(const TChmExtractor& extractor, const std::string& target) {
    const TChmItems& items = extractor.Items();
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < items.Count(); ++i) total += std::min<std::uint64_t>(items[i].Size, kWriteBudget + 1);
    if (total <= kWriteBudget) {
        items.ExtractAll(target);
        return;
    }
    std::uint64_t budget = kWriteBudget;
    FolderExport run(items, target);
    for (const std::size_t index : run.Order()) {
        if (items[index].Size > budget) continue;
        budget -= items[index].Size;
        run.Write(items[index]);
    }
}

}  // namespace

void RunExtract(const std::uint8_t* data, std::size_t size) {
    static const ScratchFolder scratch;
    // The target lies three levels below the scratch folder, whose levels
    // hold nothing else: a name that climbs out by up to three levels shows
    // up as an extra entry in one of them.
    const std::string level1 = scratch.Path() + "/a";
    const std::string level2 = level1 + "/b";
    const std::string target = level2 + "/out";
    fs::create_directories(target);
    const std::string input = scratch.WriteInput("input.chm", data, size);
    struct stat before {};
    ::stat(input.c_str(), &before);

    {
        TChmExtractor extractor;
        try {
            extractor.Open(input);
            Extract(extractor, target);
        } catch (const storage::EStorageError&) {
        } catch (const EChmExtractError&) {
        } catch (const EInOutError&) {
        }
    }

    if (Names(scratch.Path()) != std::set<std::string>{"a", "input.chm"}) Broken("an entry appeared beside the input file");
    if (Names(level1) != std::set<std::string>{"b"}) Broken("an entry appeared two levels above the target folder");
    if (Names(level2) != std::set<std::string>{"out"}) Broken("an entry appeared beside the target folder");
    for (auto it = fs::recursive_directory_iterator(target); it != fs::recursive_directory_iterator(); ++it) {
        if (it->is_symlink()) Broken("a symbolic link was created: " + it->path().string());
    }

    struct stat after {};
    ::stat(input.c_str(), &after);
    if (after.st_size != before.st_size || after.st_mtim.tv_sec != before.st_mtim.tv_sec ||
        after.st_mtim.tv_nsec != before.st_mtim.tv_nsec)
        Broken("the input file was changed");
    std::vector<std::uint8_t> reread(size);
    if (FILE* f = std::fopen(input.c_str(), "rb")) {
        const std::size_t got = std::fread(reread.data(), 1, size, f);
        std::fclose(f);
        if (got != size || (size > 0 && std::memcmp(reread.data(), data, size) != 0)) Broken("the input file's bytes changed");
    }
    RemoveTree(target);
}

}  // namespace vexmor::fuzz
