#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "catalogue/folder_export.h"
#include "catalogue/in_out_error.h"
#include "catalogue/storage_order.h"
#include "catalogue/uChmExtractor.h"
#include "fuzz/harness/fuzz_targets.h"
#include "fuzz/harness/plant.h"
#include "fuzz/harness/run_limits.h"
#include "fuzz/harness/scratch_folder.h"
#include "platform/storage/storage_error.h"

namespace vexmor::fuzz {

namespace {

namespace fs = std::filesystem;

// Items one run writes. Every rule of an export (folders made and reused,
// names taken, links and FIFOs met) shows within the first few dozen; the
// rest of a large file repeats them at a few system calls each.
constexpr std::size_t kItemsPerRun = 48;
// Bytes one run writes; a tiny input can declare streams of terabytes.
constexpr std::uint64_t kWriteBudget = 1u << 20;

constexpr char kVictimBytes[] = "a file outside the target folder";

// Thrown by the observer to end a run that has used its budget: the export
// stops there, discarding the file it was writing, as after a failure.
struct BudgetSpent {};

class RunBounds final : public ExportObserver {
public:
    explicit RunBounds(const TChmExtractor& extractor) : extractor_(extractor) {}

    bool BeforeItem(const TChmItem&) override {
        return ++items_ <= kItemsPerRun && !DecodeBudgetSpent(extractor_.DecodeStatistics());
    }
    void Copied(std::uint64_t bytes) override {
        written_ += bytes;
        if (written_ > kWriteBudget || DecodeBudgetSpent(extractor_.DecodeStatistics())) throw BudgetSpent{};
    }

private:
    const TChmExtractor& extractor_;
    std::size_t items_ = 0;
    std::uint64_t written_ = 0;
};

// Where plants go: the second half of the items a run writes. Plants
// anywhere else would never be met, and many of them stop the export (a
// folder level that is a link, a read-only file): in the first half they
// would leave the rest of the export unexercised. None when the export
// refuses the items before writing.
std::vector<std::size_t> PlantCandidates(const TChmItems& items) {
    try {
        std::vector<std::size_t> order = StorageOrder(items);
        if (order.size() > kItemsPerRun) order.resize(kItemsPerRun);
        order.erase(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(order.size() / 2));
        return order;
    } catch (const EChmExtractError&) {
        return {};
    }
}

// The names directly inside `folder`, sorted.
std::set<std::string> Names(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

// The names below `folder`, each with its kind and, for a regular file, its
// bytes. Not the link count: a planted hard link raises it.
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

// The folders of a process's runs. The target lies three levels below the
// scratch folder, whose levels hold nothing else: a name that climbs out by
// up to three levels shows up as an extra entry in one of them. Beside them,
// a folder with a file and a folder that planted links point at, made once
// and compared after every run with what it held then.
struct Layout {
    ScratchFolder scratch;
    std::string level1 = scratch.Path() + "/a";
    std::string level2 = level1 + "/b";
    std::string target = level2 + "/out";
    std::string outside = scratch.Path() + "/outside";
    std::map<std::string, std::string> outsideBefore;

    Layout() {
        fs::create_directories(level2);
        fs::create_directories(outside + "/folder");
        scratch.WriteInput("outside/victim", reinterpret_cast<const std::uint8_t*>(kVictimBytes), sizeof kVictimBytes);
        outsideBefore = Snapshot(outside);
    }
};

void CheckNothingOutsideChanged(const Layout& layout, const std::set<std::string>& planted) {
    if (Names(layout.scratch.Path()) != std::set<std::string>{"a", "input.chm", "outside"})
        Broken("an entry appeared beside the input file");
    if (Names(layout.level1) != std::set<std::string>{"b"}) Broken("an entry appeared two levels above the target folder");
    if (Names(layout.level2) != std::set<std::string>{"out"}) Broken("an entry appeared beside the target folder");
    if (Snapshot(layout.outside) != layout.outsideBefore) Broken("a file or folder that a planted link points at changed");
    for (auto it = fs::recursive_directory_iterator(layout.target); it != fs::recursive_directory_iterator(); ++it) {
        if (it->is_symlink() && planted.count(it->path().lexically_relative(layout.target).string()) == 0)
            Broken("a symbolic link was created: " + it->path().string());
    }
}

void CheckInputUnchanged(const std::string& input, const struct stat& before, const std::uint8_t* data,
                         std::size_t size) {
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
}

// How the items are read while they are written.
enum class Reading {
    AsWritten,  // Export all
    OnThread,   // the site export's way: a thread reads and filters ahead
};

// Export all, or its writing with the reading on a thread of its own and
// the pages passed through a filter (which gives them back reversed).
void ExportAll(const TChmItems& items, const std::string& folder, RunBounds& bounds, Reading reading) {
    if (reading == Reading::AsWritten) {
        items.ExtractAll(folder, &bounds);
        return;
    }
    ContentFilter filter{
        [](const TChmItem& item) { return item.Name.ends_with(".htm") || item.Name.ends_with(".html"); },
        [](const TChmItem&, std::string&& bytes) { return std::string(bytes.rbegin(), bytes.rend()); },
        kWriteBudget,
    };
    FolderExport run(items, folder);
    run.ReadOnThread(run.Order(), &filter);
    for (const std::size_t index : run.Order()) {
        if (!bounds.BeforeItem(items[index])) return;
        run.Write(items[index], &bounds);
    }
}

void ExtractWith(const storage::ReaderOptions& options, const std::uint8_t* data, std::size_t size, Reading reading) {
    static const Layout layout;
    const RunWatch watch("extract");
    fs::create_directory(layout.target);
    const std::string input = layout.scratch.WriteInput("input.chm", data, size);
    struct stat before {};
    ::stat(input.c_str(), &before);

    std::set<std::string> planted;
    {
        TChmExtractor extractor([&options] { return storage::CreateITStorageWithOptions(Bounded(options)); });
        try {
            extractor.Open(input);
            planted = PlantAtItems(extractor.Items(), PlantCandidates(extractor.Items()), data, size,
                                   {layout.target, layout.outside, input});
            RunBounds bounds(extractor);
            ExportAll(extractor.Items(), layout.target, bounds, reading);
        } catch (const storage::EStorageError&) {
        } catch (const EChmExtractError&) {
        } catch (const EInOutError&) {
        } catch (const BudgetSpent&) {
        }
    }

    CheckNothingOutsideChanged(layout, planted);
    CheckInputUnchanged(input, before, data, size);
    RemoveTree(layout.target);
}

}  // namespace

// Decoding ahead costs a run twice the time in starting and joining threads
// and in locks; it has its own target, built with ThreadSanitizer.
void RunExtract(const std::uint8_t* data, std::size_t size) {
    storage::ReaderOptions options;
    options.readAhead = false;
    ExtractWith(options, data, size, Reading::AsWritten);
}

void RunExtractReadingAhead(const std::uint8_t* data, std::size_t size) {
    storage::ReaderOptions options;
    options.readAhead = true;
    options.readAheadWorkers = kReadAheadWorkers;
    ExtractWith(options, data, size, Reading::OnThread);
}

}  // namespace vexmor::fuzz
