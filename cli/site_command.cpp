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

namespace {

// The site reads each stream once, in the order of their bytes, with its
// spans decoded ahead: a small cache of decoded data serves that as well
// as the default one, and leaves room for the keyword index at the end.
constexpr std::size_t kSiteSpanCacheBudget = 2u << 20;

}  // namespace

int RunSite(const SiteCommand& command) {
    RemovePartFilesOnSignals();
    TChmExtractor extractor([] { return storage::CreateITStorageWithCache(kSiteSpanCacheBudget); });
    extractor.Open(command.file);
    const TChmItems& items = extractor.Items();
    int status = kExitOk;
    const std::optional<std::string> chosen = ExportFolder(command.file, command.folder, "write the site", status);
    if (!chosen) return status;
    const std::string& folder = *chosen;
    const FolderLink link = command.folder.empty() ? FolderLink::Refuse : FolderLink::Follow;

    site::SiteExport run(items, command.file, folder, link);
    const std::optional<Tally> tally =
        WriteItems(items, run.Order(), folder, command.keepGoing,
                   [&](const TChmItem& item, ExportObserver& observer) { run.Write(item, &observer); });
    if (!tally) return kExitFailure;
    const std::string entry = run.Finish();
    Message(Summary(*tally, run.Order().size(), folder, false));
    Message("entry page: " + EscapeForLine(entry));
    return tally->failed == 0 ? kExitOk : kExitFailure;
}

}  // namespace vexmor::cli
