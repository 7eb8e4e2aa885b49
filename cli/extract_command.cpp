#include <unistd.h>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <utility>

#include "catalogue/folder_export.h"
#include "catalogue/inner_name.h"
#include "catalogue/part_file_guard.h"
#include "catalogue/uChmExtractor.h"
#include "cli/commands.h"
#include "cli/item_selection.h"
#include "cli/output.h"
#include "cli/progress.h"
#include "platform/storage/storage_error.h"

namespace vexmor::cli {

namespace {

// The file's name without folder and extension, as a folder of the current
// one; empty when the name gives no usable folder name.
std::string FolderNamedAfter(const std::string& file) {
    const std::string stem = std::filesystem::path(file).filename().stem().string();
    if (stem.empty() || stem == "." || stem == "..") return {};
    return stem;
}

// Counts the bytes stored in the current item's file; they count as written
// only once the item's file is in place. Says on stderr where an item was
// written under another name.
class ByteCounter : public ExportObserver {
public:
    explicit ByteCounter(ExportProgress& progress) : progress_(progress) {}
    void Copied(std::uint64_t bytes) override { bytes_ += bytes; }
    void Renamed(const TChmItem& item, const std::string& writtenAs) override {
        progress_.Erase();
        Message(InnerPathAndName(item.Path, item.Name) + " written as " + writtenAs +
                " (the target refuses the name)");
    }
    std::uint64_t Take() { return std::exchange(bytes_, 0); }

private:
    ExportProgress& progress_;
    std::uint64_t bytes_ = 0;
};

struct Tally {
    std::size_t written = 0;
    std::size_t failed = 0;
    std::uint64_t bytes = 0;
};

std::string Summary(const Tally& tally, std::size_t total, const std::string& folder, bool stopped) {
    std::string text = "wrote ";
    if (tally.written != total) text += std::to_string(tally.written) + " of ";
    text += std::to_string(total) + " streams, " + std::to_string(tally.bytes) + " bytes, to " + folder;
    if (stopped) text += "; stopped at the failure above";
    if (tally.failed > 0 && !stopped) text += "; " + std::to_string(tally.failed) + " failed";
    return text;
}

// Bytes the decoder produced over the compressed section's length: 1.00
// means every span was decoded once.
std::string DecodeWork(const storage::DecodeStatistics& stats) {
    const double ratio = stats.sectionLength == 0
                             ? 0.0
                             : static_cast<double>(stats.decodedBytes) / static_cast<double>(stats.sectionLength);
    char text[64];
    std::snprintf(text, sizeof text, "decode work: %.2f", ratio);
    return text;
}

// The catalogue's and the file layer's failures name the item themselves;
// anything else (out of memory, ...) is given the name here.
std::string FailureText(const TChmItem& item, const std::exception& e) {
    if (dynamic_cast<const EChmExtractError*>(&e) || dynamic_cast<const EInOutError*>(&e) ||
        dynamic_cast<const storage::EStorageError*>(&e))
        return e.what();
    return InnerPathAndName(item.Path, item.Name) + ": " + e.what();
}

}  // namespace

int RunExtract(const ExtractCommand& command) {
    RemovePartFilesOnSignals();
    TChmExtractor extractor;
    extractor.Open(command.file);
    const TChmItems& items = extractor.Items();
    // Every pattern is checked before anything is written: a mistyped one
    // leaves the disk as it was.
    const std::optional<std::vector<bool>> selected = SelectItems(items, command.patterns);
    if (!selected) return kExitFailure;
    // Never empty once chosen: the parser refuses an empty operand, and the
    // default is a name or the command ends here.
    std::string folder = command.folder;
    if (folder.empty()) {
        folder = FolderNamedAfter(command.file);
        if (folder.empty()) {
            Message("cannot name a folder after " + command.file + "; give the folder as second argument");
            return kExitUsage;
        }
    }
    // Otherwise the first root item would fail with an empty inner path in
    // its message, which names no place at all.
    std::error_code ignored;
    if (std::filesystem::exists(folder, ignored) && !std::filesystem::is_directory(folder, ignored)) {
        Message(folder + " exists and is not a folder");
        return kExitFailure;
    }
    // A folder named after the file may stand in a shared folder, put there
    // as a link by someone else: only a folder the user names may be a link.
    const FolderLink link = command.folder.empty() ? FolderLink::Refuse : FolderLink::Follow;
    if (link == FolderLink::Refuse && std::filesystem::is_symlink(folder, ignored)) {
        Message(folder + " is a symbolic link; give the folder as second argument to extract there");
        return kExitFailure;
    }
    folder = WithTrailingDelim(folder);

    FolderExport run(items, folder, link);
    std::size_t total = 0;
    std::uint64_t totalBytes = 0;
    for (std::size_t i = 0; i < items.Count(); ++i) {
        if (!(*selected)[i]) continue;
        ++total;
        totalBytes += items[i].Size;
    }
    ExportProgress progress(::isatty(STDERR_FILENO) == 1, total, totalBytes);
    Tally tally;
    ByteCounter counter(progress);
    for (const std::size_t index : run.Order()) {
        if (!(*selected)[index]) continue;
        const TChmItem& item = items[index];
        try {
            run.Write(item, &counter);
            ++tally.written;
            tally.bytes += counter.Take();
        } catch (const std::exception& e) {
            counter.Take();
            ++tally.failed;
            progress.Erase();
            Message(FailureText(item, e));
            if (!command.keepGoing) {
                Message(Summary(tally, total, folder, true));
                return kExitFailure;
            }
        }
        progress.Advance(item.Size);
    }
    progress.Erase();
    Message(Summary(tally, total, folder, false));
    if (command.stats) std::fprintf(stderr, "%s\n", DecodeWork(extractor.DecodeStatistics()).c_str());
    return tally.failed == 0 ? kExitOk : kExitFailure;
}

}  // namespace vexmor::cli
