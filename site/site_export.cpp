#include "site/site_export.h"

#include "catalogue/inner_name.h"
#include "catalogue/stream_blocks.h"
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

Sitemap ReadSitemapOf(const TChmItem& item, const std::string& charset) {
    SitemapReader reader(charset);
    try {
        const std::shared_ptr<storage::IStream> stream = item.Storage->OpenStream(item.Name);
        ReadInBlocks<65536>(*stream, [&](const unsigned char* data, std::uint32_t count) {
            reader.Feed(std::string_view(reinterpret_cast<const char*>(data), count));
        });
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception&) {
        // A damaged contents file shows what was read of it; the stream's
        // own failure is reported when it is written.
    }
    return reader.Finish();
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
    // Looking at the pages costs as much as writing them: done ahead, on a
    // thread of its own.
    run_.ReadOnThread(order_, &filter_);
}

void SiteExport::Write(const TChmItem& item, ExportObserver* observer) { run_.Write(item, observer); }

std::string SiteExport::Finish() {
    // The contents and index files are read here, on this thread.
    run_.StopReading();
    const storage::FileIdentity helpFile =
        items_.Count() > 0 && items_[0].Storage ? items_[0].Storage->SourceFile() : storage::FileIdentity{};
    run_.WriteMadeFile(kStyleSheetName, SiteStyleSheet(), helpFile);
    run_.WriteMadeFile(kSearchScriptName, SearchScript(), helpFile);

    EntryPageInput input;
    input.title = facts_.title;
    input.links = LinkContext{&names_, "", helpFileName_};
    input.defaultTopic = facts_.defaultTopic.empty() ? std::string() : EntryHref(facts_.defaultTopic, input.links);
    // One list in memory at a time: the keyword index of a big help file
    // holds tens of thousands of entries.
    std::optional<Sitemap> keywords;
    if (facts_.index) keywords = ReadSitemapOf(*facts_.index, facts_.charset.iconvName);
    const bool hasKeywords = keywords && !keywords->entries.empty();
    {
        std::optional<Sitemap> contents;
        if (facts_.contents) contents = ReadSitemapOf(*facts_.contents, facts_.charset.iconvName);
        if (input.defaultTopic.empty() && contents) {
            for (const SitemapEntry& entry : contents->entries) {
                if (entry.targets.empty()) continue;
                input.defaultTopic = EntryHref(entry.targets[0].local, input.links);
                if (!input.defaultTopic.empty()) break;
            }
        }
        if (hasKeywords) {
            input.keywords = &*keywords;
            run_.WriteMadeFile(kKeywordPageName, KeywordPage(input), helpFile);
        }
        keywords.reset();
        input.contents = contents ? &*contents : nullptr;
        input.keywords = nullptr;
        input.hasKeywords = hasKeywords;
        run_.WriteMadeFile(kEntryPageName, EntryPage(input), helpFile);
    }
    return folder_ + kEntryPageName;
}

}  // namespace vexmor::site
