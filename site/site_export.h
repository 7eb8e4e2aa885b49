// A help file written as a folder a browser reads: every stream but the
// file's bookkeeping, with the pages' links repaired and their charset
// named, and an entry page with the contents tree and keyword index.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "catalogue/folder_export.h"
#include "catalogue/uChmExtractor.h"
#include "site/site_facts.h"
#include "site/site_names.h"

namespace vexmor::site {

class SiteExport {
public:
    // `helpFile` is the path of the open help file (for its name). Reads the
    // contents and index files; throws EChmExtractError before anything is
    // written when two items claim the same bytes.
    SiteExport(const TChmItems& items, const std::string& helpFile, const std::string& folder,
               FolderLink link = FolderLink::Follow);
    // Stops the reading thread before the filter it uses goes.
    ~SiteExport() { run_.StopReading(); }
    SiteExport(const SiteExport&) = delete;
    SiteExport& operator=(const SiteExport&) = delete;

    // The items written, in the order to write them.
    const std::vector<std::size_t>& Order() const { return order_; }
    // Writes one of them (see FolderExport::Write).
    void Write(const TChmItem& item, ExportObserver* observer = nullptr);
    // Writes the entry page, the keyword page, style sheet and script, and
    // returns the entry page's path. Throws on failure.
    std::string Finish();

    const SiteFacts& Facts() const { return facts_; }

private:
    const TChmItems& items_;
    std::string folder_;
    SiteFacts facts_;
    SiteNames names_;
    std::string helpFileName_;
    FolderExport run_;
    std::vector<std::size_t> order_;
    ContentFilter filter_;
};

// The inner folder of `item` as the links of its page see it.
LinkContext PageContext(const TChmItem& item, const SiteNames& names, const std::string& helpFileName);

}  // namespace vexmor::site
