#include "fuzz/harness/plant.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "catalogue/inner_name.h"
#include "catalogue/path_delim.h"

namespace vexmor::fuzz {

namespace {

// Items planted at; enough to meet every kind in most inputs.
constexpr std::size_t kPlantedItems = 16;

enum class Plant {
    None,
    LinkToFile,     // a symbolic link to the file outside
    LinkToFolder,   // a symbolic link to the folder outside
    Dangling,       // a symbolic link to a name outside that does not exist
    LinkToInput,    // a symbolic link to the help file itself
    LinkToItself,   // a symbolic link that loops
    HardLink,       // a hard link of the file outside
    InputHardLink,  // a hard link of the help file itself
    Fifo,           // a FIFO: opening it to write waits for a reader
    ReadOnlyFile,   // a file the user may not write
    Folder,         // a real folder where a file is to go
    kCount
};

// The levels of `path` and then `name`.
std::vector<std::string> Levels(const std::string& path, const std::string& name) {
    std::vector<std::string> levels;
    for (std::size_t at = 0; at < path.size();) {
        std::size_t end = path.find(kPathDelim, at);
        if (end == std::string::npos) end = path.size();
        levels.push_back(path.substr(at, end - at));
        at = end + 1;
    }
    levels.push_back(name);
    return levels;
}

bool PlantOne(Plant kind, const std::string& place, const PlantPlaces& places) {
    switch (kind) {
        case Plant::LinkToFile: return ::symlink((places.outside + "/victim").c_str(), place.c_str()) == 0;
        case Plant::LinkToFolder: return ::symlink((places.outside + "/folder").c_str(), place.c_str()) == 0;
        case Plant::Dangling: return ::symlink((places.outside + "/made-through-a-link").c_str(), place.c_str()) == 0;
        case Plant::LinkToInput: return ::symlink(places.input.c_str(), place.c_str()) == 0;
        case Plant::LinkToItself: return ::symlink(place.c_str(), place.c_str()) == 0;
        case Plant::HardLink: return ::link((places.outside + "/victim").c_str(), place.c_str()) == 0;
        case Plant::InputHardLink: return ::link(places.input.c_str(), place.c_str()) == 0;
        case Plant::Fifo: return ::mkfifo(place.c_str(), 0600) == 0;
        case Plant::ReadOnlyFile: {
            const int fd = ::open(place.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0444);
            if (fd < 0) return false;
            ::close(fd);
            return true;
        }
        case Plant::Folder: return ::mkdir(place.c_str(), 0700) == 0;
        default: return false;
    }
}

}  // namespace

std::set<std::string> PlantAtItems(const TChmItems& items, const std::vector<std::size_t>& candidates,
                                   const std::uint8_t* data, std::size_t size, const PlantPlaces& places) {
    std::set<std::string> planted;
    const auto kinds = static_cast<std::size_t>(Plant::kCount);
    // Spread over the candidates, so that deep items are met as well as the
    // special files that come first.
    const std::size_t step = std::max<std::size_t>(1, candidates.size() / kPlantedItems);
    for (std::size_t i = 0; i < candidates.size() && i / step < kPlantedItems; i += step) {
        const TChmItem& item = items[candidates[i]];
        if (!IsSafeInnerName(item.Path, item.Name)) continue;
        // The end of the file (its content, which the fuzzer changes freely)
        // mixed with the item's name: the header at the start is the same
        // in nearly every input.
        std::uint32_t pick = size > 0 ? data[size - 1 - (i * 7) % size] : 0;
        for (const char c : item.Path + item.Name) pick = (pick ^ static_cast<std::uint8_t>(c)) * 16777619u;
        const auto kind = static_cast<Plant>(pick % kinds);
        const std::vector<std::string> levels = Levels(item.Path, item.Name);
        const std::size_t depth = (pick >> 8) % levels.size();
        // The levels above the planted one are real folders, so that the
        // export meets the plant inside folders it did not make.
        // Never below an earlier plant: a folder made through a planted link
        // would land outside, a change the checks would blame on the export.
        std::vector<std::string> prefixes;
        std::string relative;
        for (std::size_t level = 0; level <= depth; ++level) {
            relative += (level > 0 ? "/" : "") + levels[level];
            prefixes.push_back(relative);
        }
        bool belowPlant = false;
        for (const std::string& prefix : prefixes) belowPlant = belowPlant || planted.count(prefix) != 0;
        if (belowPlant) continue;
        for (std::size_t level = 0; level < depth; ++level) ::mkdir((places.target + "/" + prefixes[level]).c_str(), 0700);
        if (PlantOne(kind, places.target + "/" + relative, places)) planted.insert(relative);
    }
    return planted;
}

}  // namespace vexmor::fuzz
