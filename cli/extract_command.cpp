#include <unistd.h>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <utility>

#include "catalogue/byte_total.h"
#include "catalogue/folder_export.h"
#include "catalogue/inner_name.h"
#include "catalogue/part_file_guard.h"
#include "catalogue/uChmExtractor.h"
#include "cli/commands.h"
#include "cli/export_report.h"
#include "cli/item_selection.h"
#include "cli/output.h"
#include "cli/progress.h"
#include "platform/storage/storage_error.h"

namespace vexmor::cli {

namespace {

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

// A pattern written where the folder goes ("extract FILE '*.html'") would
// become a folder of that name: a name with glob characters is taken as a
// folder only when it exists.
bool LooksLikeAMisplacedPattern(const std::string& folder) {
    if (folder.find_first_of("*?[") == std::string::npos) return false;
    std::error_code ignored;
    return !std::filesystem::exists(std::filesystem::symlink_status(folder, ignored));
}

}  // namespace

int RunExtract(const ExtractCommand& command) {
    if (LooksLikeAMisplacedPattern(command.folder)) {
        Message(command.folder + ": no such folder; patterns come after the folder: " + kProgramName +
                " extract FILE [DIR] [PATTERN...]");
        return kExitUsage;
    }
    RemovePartFilesOnSignals();
    TChmExtractor extractor;
    extractor.Open(command.file);
    const TChmItems& items = extractor.Items();
    // Every pattern is checked before anything is written: a mistyped one
    // leaves the disk as it was.
    const std::optional<std::vector<bool>> selected = SelectItems(items, command.patterns);
    if (!selected) return kExitFailure;
    int status = kExitOk;
    const std::optional<std::string> chosen = ExportFolder(command.file, command.folder, "extract", status);
    if (!chosen) return status;
    const std::string& folder = *chosen;
    const FolderLink link = command.folder.empty() ? FolderLink::Refuse : FolderLink::Follow;

    FolderExport run(items, folder, link);
    std::vector<std::size_t> order;
    for (const std::size_t index : run.Order())
        if ((*selected)[index]) order.push_back(index);
    const std::optional<Tally> tally =
        WriteItems(items, order, folder, command.keepGoing,
                   [&](const TChmItem& item, ExportObserver& observer) { run.Write(item, &observer); });
    if (!tally) return kExitFailure;
    Message(Summary(*tally, order.size(), folder, false));
    if (command.stats) std::fprintf(stderr, "%s\n", DecodeWork(extractor.DecodeStatistics()).c_str());
    return tally->failed == 0 ? kExitOk : kExitFailure;
}

}  // namespace vexmor::cli
