// A help file written as a folder a browser reads: every stream but the
// file's bookkeeping, with the pages' links repaired and their charset
// named, and an entry page with the contents tree and keyword index.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/folder_export.h"
#include "catalogue/uChmExtractor.h"
#include "site/site_facts.h"
#include "site/site_names.h"
#include "site/sitemap.h"

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
    // A contents or index file read as it passes the reading thread, so that
    // its parse overlaps the writing instead of following it.
    struct PassingSitemap {
        PassingSitemap(const TChmItem& file, const std::string& charset) : item(file), reader(charset) {}
        const TChmItem& item;
        SitemapReader reader;
        std::optional<Sitemap> sitemap;  // once the whole file went by
        bool failed = false;             // then it is read again at the end
    };
    void Watch(const TChmItem& item, std::string_view bytes, bool last);
    // The sitemap of the file `passing` watched, from the pass when it went
    // by whole, else read now; nullopt when the help has no such file.
    // `passing` is let go.
    std::optional<Sitemap> SitemapOf(std::unique_ptr<PassingSitemap>& passing);
    // The keyword page of `keywords`, empty when it has no entries.
    std::string KeywordPageOf(const Sitemap& keywords, const std::string& defaultTopic) const;
    // The href of the topic shown first: the file's default topic, else the
    // first contents entry that leads somewhere.
    std::string DefaultTopicOf(const Sitemap* contents) const;
    // The same on the reading thread: nullopt while it needs the contents
    // file and that has not gone by whole.
    std::optional<std::string> DefaultTopicSoFar() const;
    LinkContext RootLinks() const { return LinkContext{&names_, "", helpFileName_}; }

    const TChmItems& items_;
    std::string folder_;
    SiteFacts facts_;
    SiteNames names_;
    std::string helpFileName_;
    FolderExport run_;
    std::vector<std::size_t> order_;
    ContentFilter filter_;
    // Touched by the reading thread until StopReading joins it.
    std::unique_ptr<PassingSitemap> passingContents_, passingIndex_;
    std::optional<std::string> keywordPage_;  // made on the reading thread
};

// The inner folder of `item` as the links of its page see it.
LinkContext PageContext(const TChmItem& item, const SiteNames& names, const std::string& helpFileName);

}  // namespace vexmor::site
