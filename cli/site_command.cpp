#include <unistd.h>

#include <exception>

#include "catalogue/part_file_guard.h"
#include "catalogue/uChmExtractor.h"
#include "cli/commands.h"
#include "cli/escape.h"
#include "cli/export_report.h"
#include "cli/output.h"
#include "cli/progress.h"
#include "site/site_export.h"

namespace vexmor::cli {

int RunSite(const SiteCommand& command) {
    RemovePartFilesOnSignals();
    TChmExtractor extractor;
    extractor.Open(command.file);
    const TChmItems& items = extractor.Items();
    int status = kExitOk;
    const std::optional<std::string> chosen = ExportFolder(command.file, command.folder, "write the site", status);
    if (!chosen) return status;
    const std::string& folder = *chosen;
    const FolderLink link = command.folder.empty() ? FolderLink::Refuse : FolderLink::Follow;

    site::SiteExport run(items, command.file, folder, link);
    ByteTotal totalBytes;
    for (const std::size_t index : run.Order()) totalBytes += items[index].Size;
    const std::size_t total = run.Order().size();
    ExportProgress progress(::isatty(STDERR_FILENO) == 1, total, totalBytes);
    Tally tally;
    ByteCounter counter(progress);
    for (const std::size_t index : run.Order()) {
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
    const std::string entry = run.Finish();
    Message(Summary(tally, total, folder, false));
    Message("entry page: " + EscapeForLine(entry));
    return tally.failed == 0 ? kExitOk : kExitFailure;
}

}  // namespace vexmor::cli
