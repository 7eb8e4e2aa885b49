#include "cli/export_report.h"

#include <unistd.h>

#include <filesystem>

#include "catalogue/inner_name.h"
#include "catalogue/path_delim.h"
#include "cli/commands.h"
#include "cli/output.h"
#include "platform/storage/storage_error.h"

namespace vexmor::cli {

std::string FolderNamedAfter(const std::string& file) {
    const std::string stem = std::filesystem::path(file).filename().stem().string();
    if (stem.empty() || stem == "." || stem == "..") return {};
    return stem;
}

void ByteCounter::Renamed(const TChmItem& item, const std::string& writtenAs) {
    progress_.Erase();
    Message(InnerPathAndName(item.Path, item.Name) + " written as " + writtenAs + " (the target refuses the name)");
}

std::string Summary(const Tally& tally, std::size_t total, const std::string& folder, bool stopped) {
    std::string text = "wrote ";
    if (tally.written != total) text += std::to_string(tally.written) + " of ";
    text += std::to_string(total) + " streams, " + ByteTotalText(tally.bytes) + " bytes, to " + folder;
    if (stopped) text += "; stopped at the failure above";
    if (tally.failed > 0 && !stopped) text += "; " + std::to_string(tally.failed) + " failed";
    return text;
}

std::optional<Tally> WriteItems(const TChmItems& items, const std::vector<std::size_t>& order,
                                const std::string& folder, bool keepGoing,
                                const std::function<void(const TChmItem&, ExportObserver&)>& write) {
    ByteTotal totalBytes;
    for (const std::size_t index : order) totalBytes += items[index].Size;
    ExportProgress progress(::isatty(STDERR_FILENO) == 1, order.size(), totalBytes);
    Tally tally;
    ByteCounter counter(progress);
    for (const std::size_t index : order) {
        const TChmItem& item = items[index];
        try {
            write(item, counter);
            ++tally.written;
            tally.bytes += counter.Take();
        } catch (const std::exception& e) {
            counter.Take();
            ++tally.failed;
            progress.Erase();
            Message(FailureText(item, e));
            if (!keepGoing) {
                Message(Summary(tally, order.size(), folder, true));
                return std::nullopt;
            }
        }
        progress.Advance(item.Size);
    }
    progress.Erase();
    return tally;
}

std::string FailureText(const TChmItem& item, const std::exception& e) {
    if (dynamic_cast<const EChmExtractError*>(&e) || dynamic_cast<const EInOutError*>(&e) ||
        dynamic_cast<const storage::EStorageError*>(&e))
        return e.what();
    return InnerPathAndName(item.Path, item.Name) + ": " + e.what();
}

std::optional<std::string> ExportFolder(const std::string& file, const std::string& named, const std::string& what,
                                        int& status) {
    // Never empty once chosen: the parser refuses an empty operand, and the
    // default is a name or the command ends here.
    std::string folder = named;
    if (folder.empty()) {
        folder = FolderNamedAfter(file);
        if (folder.empty()) {
            Message("cannot name a folder after " + file + "; give the folder as second argument");
            status = kExitUsage;
            return std::nullopt;
        }
    }
    // Otherwise the first root item would fail with an empty inner path in
    // its message, which names no place at all.
    std::error_code ignored;
    if (std::filesystem::exists(folder, ignored) && !std::filesystem::is_directory(folder, ignored)) {
        Message(folder + " exists and is not a folder");
        status = kExitFailure;
        return std::nullopt;
    }
    // A folder named after the file may stand in a shared folder, put there
    // as a link by someone else: only a folder the user names may be a link.
    if (named.empty() && std::filesystem::is_symlink(folder, ignored)) {
        Message(folder + " is a symbolic link; give the folder as second argument to " + what + " there");
        status = kExitFailure;
        return std::nullopt;
    }
    return WithTrailingDelim(folder);
}

}  // namespace vexmor::cli
