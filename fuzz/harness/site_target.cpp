#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/uChmExtractor.h"
#include "fuzz/harness/fuzz_targets.h"
#include "fuzz/harness/made_page_check.h"
#include "fuzz/harness/run_limits.h"
#include "site/css_links.h"
#include "site/entry_pages.h"
#include "site/page_rewrite.h"
#include "site/site_names.h"
#include "site/sitemap.h"
#include "site/utf8_decoder.h"

namespace vexmor::fuzz {

namespace {

// The streams of the help file the links of a run lead to: names under
// several cases, with spaces, a ':' and Chinese, in nested folders, and
// bookkeeping streams that a site leaves out.
constexpr std::pair<const char*, const char*> kStreams[] = {
    {"", "index.htm"},         {"", "Default.HTM"},        {"", "a:b.htm"},
    {"", "#SYSTEM"},           {"$WWKeywordLinks", "BTree"}, {"html", "Topic.htm"},
    {"html", "topic.HTM"},     {"html", "Page One.htm"},   {"html", "\xE9\xA1\xB5\xE9\x9D\xA2.htm"},
    {"html", "x.css"},         {"html/sub", "Deep.htm"},   {"Styles", "lightweight.css"},
    {"images", "Logo.GIF"},    {"images", "a b#c&d.png"},
};

struct Charsets {
    const char* iconvName;
    const char* webLabel;
};
constexpr Charsets kPageCharsets[] = {{"", ""}, {"GBK", "gbk"}, {"WINDOWS-1251", "windows-1251"}, {"UTF-8", "utf-8"}};

constexpr std::string_view kPartSeparator = "\n--part--\n";

const TChmItems& Catalogue() {
    static const TChmItems* const items = [] {
        auto* made = new TChmItems;
        for (const auto& [path, name] : kStreams) {
            TChmItem& item = made->Add();
            item.Path = path;
            item.Name = name;
        }
        return made;
    }();
    return *items;
}

const site::SiteNames& Names() {
    static const site::SiteNames* const names = new site::SiteNames(Catalogue());
    return *names;
}

// The piece sizes a sitemap is fed in: mostly a few bytes, at times several
// KiB, from a generator seeded by the input.
class Pieces {
public:
    explicit Pieces(std::uint32_t seed) : state_(seed * 2654435761u + 1) {}
    std::size_t Next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return 1 + (state_ % 4 == 0 ? state_ % 8192 : state_ % 24);
    }

private:
    std::uint32_t state_;
};

bool SameSitemap(const site::Sitemap& a, const site::Sitemap& b) {
    if (a.truncated != b.truncated || a.entries.size() != b.entries.size()) return false;
    for (std::size_t i = 0; i < a.entries.size(); ++i) {
        const site::SitemapEntry& x = a.entries[i];
        const site::SitemapEntry& y = b.entries[i];
        if (x.depth != y.depth || x.name != y.name || x.seeAlso != y.seeAlso || x.targets.size() != y.targets.size())
            return false;
        for (std::size_t t = 0; t < x.targets.size(); ++t)
            if (x.targets[t].title != y.targets[t].title || x.targets[t].local != y.targets[t].local) return false;
    }
    return true;
}

// The sitemap fed in pieces, which must read as the whole text read at once.
site::Sitemap ReadInPieces(std::string_view text, const std::string& charset, std::uint32_t seed) {
    site::SitemapReader reader(charset);
    Pieces pieces(seed);
    for (std::string_view rest = text; !rest.empty();) {
        const std::size_t count = std::min(rest.size(), pieces.Next());
        reader.Feed(rest.substr(0, count));
        rest.remove_prefix(count);
    }
    site::Sitemap sitemap = reader.Finish();
    for (const site::SitemapEntry& entry : sitemap.entries)
        if (entry.depth > site::kSitemapDepthLimit) Broken("sitemap: an entry deeper than the limit");
    if (sitemap.entries.size() > site::kSitemapEntryLimit) Broken("sitemap: more entries than the limit");
    if (!SameSitemap(sitemap, site::ReadSitemap(text, charset)))
        Broken("sitemap: read in pieces, it differs from the same text read at once");
    return sitemap;
}

// Whether `rewritten` is `page` with one declaration of `label` inserted.
bool OnlyDeclarationAdded(std::string_view page, std::string_view rewritten, const std::string& label) {
    const std::string declaration = "<meta charset=\"" + label + "\">";
    if (label.empty() || rewritten.size() != page.size() + declaration.size()) return false;
    for (std::size_t at = rewritten.find(declaration); at != std::string_view::npos;
         at = rewritten.find(declaration, at + 1)) {
        if (rewritten.substr(0, at) == page.substr(0, at) && rewritten.substr(at + declaration.size()) == page.substr(at))
            return true;
    }
    return false;
}

// A page the quick look passes over must be one RewritePage keeps, but for
// a charset declaration inserted into a page of ASCII (which any charset
// reads alike).
void CheckQuickLook(std::string_view page, const std::string& rewritten, const site::PageCharset& charset) {
    if (site::PageMayNeedRewrite(page, Names()) || rewritten == page) return;
    if (OnlyDeclarationAdded(page, rewritten, charset.webLabel)) return;
    Broken("page: the quick look says nothing changes, the rewrite changes more than the charset");
}

void RunPage(std::string_view page, const site::LinkContext& context, const site::PageCharset& charset) {
    const std::string rewritten = site::RewritePage(page, context, charset);
    CheckQuickLook(page, rewritten, charset);
    // A rewritten page needs no more change. The declaration may be
    // inserted again: put before the first element of the tree, it is
    // dropped with the body that a later <frameset> replaces (browsers
    // still read it, looking at the first bytes before parsing).
    const std::string again = site::RewritePage(rewritten, context, charset);
    // A page of UTF-8 beyond ASCII is declared UTF-8, whatever the file's code page.
    const std::string label = !site::IsAscii(page) && site::IsUtf8(page) ? "utf-8" : charset.webLabel;
    if (again != rewritten && !OnlyDeclarationAdded(rewritten, again, label))
        Broken("page: a rewritten page changes again");
}

void RunStyleSheet(std::string_view css, const site::LinkContext& context, const std::string& charset) {
    const std::string rewritten = site::RewriteCss(css, context, charset);
    if (site::RewriteCss(rewritten, context, charset) != rewritten)
        Broken("style sheet: a rewritten sheet changes again");
}

void RunEntryPages(const site::Sitemap& contents, const site::Sitemap& keywords, const site::LinkContext& links) {
    site::EntryPageInput input;
    input.title = contents.entries.empty() ? "<b>&title" : contents.entries[0].name;
    input.contents = &contents;
    input.keywords = &keywords;
    input.links = links;
    // The default topic as the export picks it: the first contents entry
    // with a target a page may link to.
    for (const site::SitemapEntry& entry : contents.entries) {
        if (entry.targets.empty()) continue;
        input.defaultTopic = site::EntryHref(entry.targets[0].local, links);
        if (!input.defaultTopic.empty()) break;
    }
    for (const site::Sitemap* sitemap : {&contents, &keywords})
        for (const site::SitemapEntry& entry : sitemap->entries)
            for (const site::SitemapTarget& target : entry.targets) {
                const std::string href = site::EntryHref(target.local, links);
                if (!href.empty() && !IsSafeMadeLink(href)) Broken("entry href that may not be made: " + href);
            }
    CheckMadePage(site::EntryPage(input), "entry page");
    CheckMadePage(site::KeywordPage(input), "keyword page");
}

}  // namespace

void RunSite(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return;
    const std::uint8_t flags = data[0];
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::vector<std::string_view> parts;
    for (std::string_view rest = text;;) {
        const std::size_t at = parts.size() < 3 ? rest.find(kPartSeparator) : std::string_view::npos;
        parts.push_back(rest.substr(0, at));
        if (at == std::string_view::npos) break;
        rest.remove_prefix(at + kPartSeparator.size());
    }
    parts.resize(4);

    const std::string sitemapCharset = flags & 1 ? "GBK" : "UTF-8";
    const Charsets& pageCharset = kPageCharsets[(flags >> 1) & 3];
    const site::PageCharset charset{pageCharset.iconvName, pageCharset.webLabel};
    const site::LinkContext pageContext{&Names(), flags & 8 ? "html" : "", "help.chm"};
    const site::LinkContext rootContext{&Names(), "", "help.chm"};

    const site::Sitemap contents = ReadInPieces(parts[0], sitemapCharset, flags >> 4);
    RunPage(parts[1], pageContext, charset);
    RunStyleSheet(parts[2], pageContext, charset.iconvName);
    const site::Sitemap keywords =
        parts[3].empty() ? contents : ReadInPieces(parts[3], sitemapCharset, (flags >> 4) + 16u);
    RunEntryPages(contents, keywords, rootContext);
}

}  // namespace vexmor::fuzz
