#include "site/site_export.h"

#include <libxml/parser.h>

#include "catalogue/inner_name.h"
#include "catalogue/path_delim.h"
#include "site/css_links.h"
#include "site/entry_pages.h"
#include "site/page_rewrite.h"
#include "site/sitemap.h"

namespace vexmor::site {

namespace {

enum class PageKind { Html, Css, Other };

PageKind KindOf(const TChmItem& item) {
    const std::string name = FoldCase(item.Name);
    if (name.ends_with(".htm") || name.ends_with(".html") || name.ends_with(".xhtml") || name.ends_with(".shtml") ||
        name.ends_with(".hta"))
        return PageKind::Html;
    if (name.ends_with(".css")) return PageKind::Css;
    return PageKind::Other;
}

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

LinkContext PageContext(const TChmItem& item, const SiteNames& names, const std::string& helpFileName) {
    return LinkContext{&names, item.Path, helpFileName};
}

SiteExport::SiteExport(const TChmItems& items, const std::string& helpFile, const std::string& folder,
                       FolderLink link)
    : items_(items),
      folder_(WithTrailingDelim(folder)),
      facts_(ReadSiteFacts(items, helpFile)),
      names_(items),
      helpFileName_(BaseName(helpFile)),
      run_(items, folder, link) {
    for (const std::size_t index : run_.Order())
        if (!IsBookkeeping(items[index])) order_.push_back(index);
    filter_.sizeLimit = kPageRewriteLimit;
    filter_.wants = [](const TChmItem& item) { return KindOf(item) != PageKind::Other; };
    filter_.rewrite = [this](const TChmItem& item, std::string&& bytes) {
        const LinkContext context = PageContext(item, names_, helpFileName_);
        if (KindOf(item) == PageKind::Css) return RewriteCss(bytes, context, facts_.charset.iconvName);
        if (!PageMayNeedRewrite(bytes, names_)) return std::move(bytes);
        return RewritePage(bytes, context, facts_.charset);
    };
    // Before a second thread parses: libxml2 sets up its tables once.
    xmlInitParser();
    if (facts_.contents) passingContents_ = std::make_unique<PassingSitemap>(*facts_.contents, facts_.charset.iconvName);
    if (facts_.index) passingIndex_ = std::make_unique<PassingSitemap>(*facts_.index, facts_.charset.iconvName);
    filter_.watches = [this](const TChmItem& item) { return &item == facts_.contents || &item == facts_.index; };
    filter_.watch = [this](const TChmItem& item, std::string_view bytes, bool last) { Watch(item, bytes, last); };
    // Looking at the pages costs as much as writing them: done ahead, on a
    // thread of its own.
    run_.ReadOnThread(order_, &filter_);
}

void SiteExport::Watch(const TChmItem& item, std::string_view bytes, bool last) {
    // Nothing may escape to the reading thread: the stream is still to be
    // written whatever becomes of its parse.
    for (PassingSitemap* pass : {passingContents_.get(), passingIndex_.get()}) {
        if (!pass || &pass->item != &item || pass->failed) continue;
        try {
            pass->reader.Feed(bytes);
            if (last) pass->sitemap = pass->reader.Finish();
        } catch (...) {
            pass->failed = true;
            pass->sitemap.reset();
        }
    }
    // The keyword index is most often the last stream, and its page the
    // longest to make: made here while the writer catches up, once the topic
    // it shows first is known; else at the end.
    PassingSitemap* index = passingIndex_.get();
    if (!last || !index || &index->item != &item || !index->sitemap) return;
    const std::optional<std::string> topic = DefaultTopicSoFar();
    if (!topic) return;
    try {
        keywordPage_ = KeywordPageOf(*index->sitemap, *topic);
        index->sitemap.reset();
    } catch (...) {
        keywordPage_.reset();
    }
}

std::optional<Sitemap> SiteExport::SitemapOf(std::unique_ptr<PassingSitemap>& passing) {
    if (!passing) return std::nullopt;
    std::optional<Sitemap> sitemap = std::move(passing->sitemap);
    const TChmItem& item = passing->item;
    passing.reset();
    if (!sitemap) sitemap = ReadSitemapOf(item, facts_.charset.iconvName);
    return sitemap;
}

std::string SiteExport::KeywordPageOf(const Sitemap& keywords, const std::string& defaultTopic) const {
    if (keywords.entries.empty()) return {};
    EntryPageInput input;
    input.title = facts_.title;
    input.links = RootLinks();
    input.defaultTopic = defaultTopic;
    input.keywords = &keywords;
    return KeywordPage(input);
}

std::string SiteExport::DefaultTopicOf(const Sitemap* contents) const {
    const LinkContext links = RootLinks();
    if (!facts_.defaultTopic.empty()) return EntryHref(facts_.defaultTopic, links);
    if (contents) {
        for (const SitemapEntry& entry : contents->entries) {
            if (entry.targets.empty()) continue;
            std::string href = EntryHref(entry.targets[0].local, links);
            if (!href.empty()) return href;
        }
    }
    return {};
}

std::optional<std::string> SiteExport::DefaultTopicSoFar() const {
    if (!facts_.defaultTopic.empty() || !facts_.contents) return DefaultTopicOf(nullptr);
    if (passingContents_ && passingContents_->sitemap) return DefaultTopicOf(&*passingContents_->sitemap);
    return std::nullopt;
}

void SiteExport::Write(const TChmItem& item, ExportObserver* observer) { run_.Write(item, observer); }

std::string SiteExport::Finish() {
    // The reading thread is done with the contents and index files; what it
    // could not parse whole is read again below, on this thread.
    run_.StopReading();
    const storage::FileIdentity helpFile =
        items_.Count() > 0 && items_[0].Storage ? items_[0].Storage->SourceFile() : storage::FileIdentity{};
    run_.WriteMadeFile(kStyleSheetName, SiteStyleSheet(), helpFile);
    run_.WriteMadeFile(kSearchScriptName, SearchScript(), helpFile);

    EntryPageInput input;
    input.title = facts_.title;
    input.links = RootLinks();
    const std::optional<Sitemap> contents = SitemapOf(passingContents_);
    input.defaultTopic = DefaultTopicOf(contents ? &*contents : nullptr);
    if (!keywordPage_ && facts_.index) {
        // The keyword index of a big help file holds tens of thousands of
        // entries: its list goes as soon as its page is made.
        const std::optional<Sitemap> keywords = SitemapOf(passingIndex_);
        keywordPage_ = KeywordPageOf(*keywords, input.defaultTopic);
    }
    passingIndex_.reset();
    input.hasKeywords = keywordPage_ && !keywordPage_->empty();
    if (input.hasKeywords) run_.WriteMadeFile(kKeywordPageName, *keywordPage_, helpFile);
    keywordPage_.reset();

    input.contents = contents ? &*contents : nullptr;
    run_.WriteMadeFile(kEntryPageName, EntryPage(input), helpFile);
    return folder_ + kEntryPageName;
}

}  // namespace vexmor::site
