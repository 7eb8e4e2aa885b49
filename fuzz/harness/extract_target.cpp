#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "catalogue/folder_export.h"
#include "catalogue/in_out_error.h"
#include "catalogue/inner_name.h"
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

// Items looked at for planting; the first ones are enough to meet every kind.
constexpr std::size_t kPlantedItems = 16;
constexpr char kVictimBytes[] = "a file outside the target folder";

// What a hostile user plants at an item's place before the run: links to
// the file and the folder outside, a dangling link, a hard link of the
// outside file or of the input itself, a FIFO. Chosen by the input bytes, so
// that the fuzzer varies them with the file.
enum class Plant { None, LinkToFile, LinkForFolder, Dangling, HardLink, InputLink, Fifo, kCount };

// Plants at the root level of `target` only: at a root item's own name, or
// at the first level of an inner item's path. Returns the planted names.
std::set<std::string> PlantLinks(const TChmItems& items, const std::uint8_t* data, std::size_t size,
                                 const std::string& target, const std::string& outside, const std::string& input) {
    std::set<std::string> planted;
    const auto kinds = static_cast<std::size_t>(Plant::kCount);
    for (std::size_t i = 0; i < items.Count() && i < kPlantedItems; ++i) {
        const TChmItem& item = items[i];
        if (!IsSafeInnerName(item.Path, item.Name)) continue;
        const auto kind = static_cast<Plant>((i + (size > 0 ? data[i % size] : 0)) % kinds);
        const bool atRoot = item.Path.empty();
        const std::string name = atRoot ? item.Name : item.Path.substr(0, item.Path.find('/'));
        if (planted.count(name) != 0) continue;
        const std::string place = target + "/" + name;
        int result = -1;
        switch (kind) {
            case Plant::LinkToFile: result = ::symlink((outside + "/victim").c_str(), place.c_str()); break;
            case Plant::LinkForFolder: result = ::symlink((outside + "/folder").c_str(), place.c_str()); break;
            case Plant::Dangling: result = ::symlink((outside + "/made-through-a-link").c_str(), place.c_str()); break;
            case Plant::HardLink:
                if (atRoot) result = ::link((outside + "/victim").c_str(), place.c_str());
                break;
            case Plant::InputLink:
                if (atRoot) result = ::link(input.c_str(), place.c_str());
                break;
            case Plant::Fifo: result = ::mkfifo(place.c_str(), 0600); break;
            default: break;
        }
        if (result == 0) planted.insert(name);
    }
    return planted;
}

// The names below `folder`, each with its kind and, for a regular file, its
// bytes and link count.
std::map<std::string, std::string> Snapshot(const std::string& folder) {
    std::map<std::string, std::string> entries;
    for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it) {
        std::string& text = entries[it->path().string()];
        if (it->is_symlink() || !it->is_regular_file()) {
            text = it->is_directory() ? "folder" : "other";
            continue;
        }
        std::FILE* f = std::fopen(it->path().c_str(), "rb");
        if (!f) continue;
        char buffer[256];
        for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, f)) > 0;) text.append(buffer, got);
        std::fclose(f);
    }
    return entries;
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
    // up as an extra entry in one of them. Beside them, a folder with a file
    // that links planted in the target point at.
    const std::string level1 = scratch.Path() + "/a";
    const std::string level2 = level1 + "/b";
    const std::string target = level2 + "/out";
    const std::string outside = scratch.Path() + "/outside";
    fs::create_directories(target);
    fs::create_directories(outside + "/folder");
    const std::string input = scratch.WriteInput("input.chm", data, size);
    scratch.WriteInput("outside/victim", reinterpret_cast<const std::uint8_t*>(kVictimBytes), sizeof kVictimBytes);
    const auto outsideBefore = Snapshot(outside);
    struct stat before {};
    ::stat(input.c_str(), &before);

    std::set<std::string> planted;
    {
        TChmExtractor extractor;
        try {
            extractor.Open(input);
            planted = PlantLinks(extractor.Items(), data, size, target, outside, input);
            Extract(extractor, target);
        } catch (const storage::EStorageError&) {
        } catch (const EChmExtractError&) {
        } catch (const EInOutError&) {
        }
    }

    if (Names(scratch.Path()) != std::set<std::string>{"a", "input.chm", "outside"})
        Broken("an entry appeared beside the input file");
    if (Names(level1) != std::set<std::string>{"b"}) Broken("an entry appeared two levels above the target folder");
    if (Names(level2) != std::set<std::string>{"out"}) Broken("an entry appeared beside the target folder");
    if (Snapshot(outside) != outsideBefore) Broken("a file or folder that a planted link points at changed");
    for (auto it = fs::recursive_directory_iterator(target); it != fs::recursive_directory_iterator(); ++it) {
        const bool wasPlanted = it.depth() == 0 && planted.count(it->path().filename().string()) != 0;
        if (it->is_symlink() && !wasPlanted) Broken("a symbolic link was created: " + it->path().string());
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
    RemoveTree(outside);
}

}  // namespace vexmor::fuzz
