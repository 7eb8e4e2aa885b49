#include "epub/package_files.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "epub/xhtml_text.h"
#include "site/site_names.h"

namespace vexmor::epub {

namespace {

std::string Escaped(std::string_view text) { return XmlText(text, true); }

// An entry of a contents or index file, as the book shows it.
struct ListItem {
    std::size_t depth = 0;
    std::string text;
    std::optional<BookLink> link;
};

std::optional<BookLink> FirstLink(const site::SitemapEntry& entry, const BookLinks& links, const BookResource& from,
                                  const IdCheck& hasId) {
    for (const site::SitemapTarget& target : entry.targets) {
        std::optional<BookLink> link = links.Resolve(target.local, from, LinkUse::Hyperlink);
        if (!link || link->target == nullptr) continue;
        if (!link->fragment.empty() && !hasId(*link->target, link->fragment)) link->fragment.clear();
        return link;
    }
    return std::nullopt;
}

std::string NameOf(const site::SitemapEntry& entry) {
    if (!entry.name.empty()) return entry.name;
    for (const site::SitemapTarget& target : entry.targets)
        if (!target.title.empty()) return target.title;
    return "(无标题)";
}

// The entries with a link, and those above them; depths made to go down
// one level at a time.
std::vector<ListItem> Items(const site::Sitemap& map, const BookLinks& links, const BookResource& from,
                            const IdCheck& hasId) {
    std::vector<ListItem> items;
    std::size_t previous = 0;
    for (const site::SitemapEntry& entry : map.entries) {
        const std::size_t depth = items.empty() ? 0 : std::min(entry.depth, previous + 1);
        previous = depth;
        items.push_back({depth, NameOf(entry), FirstLink(entry, links, from, hasId)});
    }
    // From the end: an entry stays when it links or something below it stays.
    std::vector<bool> keep(items.size());
    std::vector<bool> keptBelow(site::kSitemapDepthLimit + 2);
    for (std::size_t i = items.size(); i-- > 0;) {
        const std::size_t depth = std::min(items[i].depth, site::kSitemapDepthLimit);
        bool below = false;
        for (std::size_t d = depth + 1; d < keptBelow.size(); ++d) {
            below = below || keptBelow[d];
            keptBelow[d] = false;
        }
        keep[i] = items[i].link.has_value() || below;
        keptBelow[depth] = keptBelow[depth] || keep[i];
    }
    std::vector<ListItem> kept;
    for (std::size_t i = 0; i < items.size(); ++i)
        if (keep[i]) kept.push_back(std::move(items[i]));
    // Depths again: an entry left out may have stood between.
    for (std::size_t i = 0; i < kept.size(); ++i)
        kept[i].depth = i == 0 ? 0 : std::min(kept[i].depth, kept[i - 1].depth + 1);
    return kept;
}

std::string Head(const BookFacts& facts, const std::string& title) {
    std::string page = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE html>\n"
                       "<html xmlns=\"http://www.w3.org/1999/xhtml\" xmlns:epub=\"http://www.idpf.org/2007/ops\"";
    if (!facts.language.empty()) page += " lang=\"" + facts.language + "\" xml:lang=\"" + facts.language + "\"";
    page += ">\n<head>\n<meta charset=\"utf-8\"/>\n<title>" + Escaped(title) + "</title>\n</head>\n<body>\n";
    return page;
}

// Nested lists of `items`: an item without a link shows its text only (it
// has items below it).
std::string NestedList(const std::vector<ListItem>& items, const char* list, const std::string& from) {
    std::string html = std::string("<") + list + ">\n";
    for (std::size_t i = 0; i < items.size(); ++i) {
        const ListItem& item = items[i];
        html += "<li>";
        if (item.link) html += "<a href=\"" + Escaped(BookLinks::Href(*item.link, from)) + "\">" + Escaped(item.text) + "</a>";
        else html += "<span>" + Escaped(item.text) + "</span>";
        const std::size_t next = i + 1 < items.size() ? items[i + 1].depth : 0;
        if (next > item.depth) {
            html += "\n<" + std::string(list) + ">\n";
            continue;
        }
        html += "</li>\n";
        for (std::size_t d = item.depth; d > next; --d) html += "</" + std::string(list) + ">\n</li>\n";
    }
    html += std::string("</") + list + ">\n";
    return html;
}

}  // namespace

const BookResource& RootResource(const char* name) {
    static thread_local BookResource root;
    root.stored.clear();
    root.entry = name;
    return root;
}

std::string ContainerXml() {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<container version=\"1.0\" xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\">\n"
           "<rootfiles>\n<rootfile full-path=\"" +
           std::string(kPackageName) +
           "\" media-type=\"application/oebps-package+xml\"/>\n</rootfiles>\n</container>\n";
}

std::vector<const BookResource*> ContentsOrder(const site::Sitemap* contents, const BookLinks& links) {
    std::vector<const BookResource*> order;
    if (contents == nullptr) return order;
    std::unordered_set<const BookResource*> seen;
    for (const site::SitemapEntry& entry : contents->entries)
        for (const site::SitemapTarget& target : entry.targets) {
            const auto link = links.Resolve(target.local, RootResource(kNavName), LinkUse::Hyperlink);
            if (link && link->target != nullptr && seen.insert(link->target).second) order.push_back(link->target);
        }
    return order;
}

std::string PackageDocument(const BookFacts& facts, const BookNames& book, const std::vector<const BookResource*>& spine,
                            bool keywords) {
    std::string opf = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"3.0\" unique-identifier=\"book-id\" "
                      "xml:lang=\"" + facts.language + "\">\n"
                      "<metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n"
                      "<dc:identifier id=\"book-id\">" + facts.identifier + "</dc:identifier>\n"
                      "<dc:title>" + Escaped(facts.title) + "</dc:title>\n"
                      "<dc:language>" + facts.language + "</dc:language>\n"
                      "<meta property=\"dcterms:modified\">" + facts.modified + "</meta>\n"
                      "</metadata>\n<manifest>\n";
    opf += "<item id=\"nav\" href=\"" + std::string(kNavName) +
           "\" media-type=\"application/xhtml+xml\" properties=\"nav\"/>\n";
    opf += "<item id=\"ncx\" href=\"" + std::string(kNcxName) + "\" media-type=\"application/x-dtbncx+xml\"/>\n";
    if (keywords)
        opf += "<item id=\"keywords\" href=\"" + std::string(kKeywordName) + "\" media-type=\"application/xhtml+xml\"/>\n";
    for (const BookResource& resource : book.Resources())
        opf += "<item id=\"" + resource.id + "\" href=\"" + Escaped(RelativeHref(kPackageName, resource.entry)) +
               "\" media-type=\"" + resource.type.name + "\"/>\n";
    opf += "</manifest>\n<spine toc=\"ncx\">\n";
    if (spine.empty() && !keywords) opf += "<itemref idref=\"nav\"/>\n";
    for (const BookResource* page : spine) opf += "<itemref idref=\"" + page->id + "\"/>\n";
    if (keywords) opf += "<itemref idref=\"keywords\"/>\n";
    opf += "</spine>\n</package>\n";
    return opf;
}

std::string NavDocument(const BookFacts& facts, const site::Sitemap* contents, const BookLinks& links,
                        const IdCheck& hasId, const BookResource* firstPage) {
    std::vector<ListItem> items;
    if (contents) items = Items(*contents, links, RootResource(kNavName), hasId);
    if (items.empty())
        items.push_back({0, facts.title, firstPage ? std::optional<BookLink>(BookLink{firstPage, {}, {}})
                                                   : std::optional<BookLink>(BookLink{nullptr, {}, kNavName})});
    std::string page = Head(facts, facts.title);
    page += "<nav epub:type=\"toc\" id=\"toc\">\n<h1>" + Escaped(facts.title) + "</h1>\n";
    page += NestedList(items, "ol", kNavName);
    page += "</nav>\n</body>\n</html>\n";
    return page;
}

std::string NcxDocument(const BookFacts& facts, const site::Sitemap* contents, const BookLinks& links,
                        const IdCheck& hasId, const BookResource* firstPage) {
    std::vector<ListItem> items;
    if (contents) items = Items(*contents, links, RootResource(kNcxName), hasId);
    if (items.empty())
        items.push_back({0, facts.title, firstPage ? std::optional<BookLink>(BookLink{firstPage, {}, {}})
                                                   : std::optional<BookLink>(BookLink{nullptr, {}, kNavName})});
    // A point needs a target: one without a link takes the first below it.
    std::vector<std::string> sources(items.size());
    for (std::size_t i = items.size(); i-- > 0;) {
        if (items[i].link) sources[i] = BookLinks::Href(*items[i].link, kNcxName);
        else if (i + 1 < items.size()) sources[i] = sources[i + 1];
    }
    std::size_t depth = 1;
    for (const ListItem& item : items) depth = std::max(depth, item.depth + 1);
    std::string ncx = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<ncx xmlns=\"http://www.daisy.org/z3986/2005/ncx/\" version=\"2005-1\">\n<head>\n"
                      "<meta name=\"dtb:uid\" content=\"" + facts.identifier + "\"/>\n"
                      "<meta name=\"dtb:depth\" content=\"" + std::to_string(depth) + "\"/>\n"
                      "<meta name=\"dtb:totalPageCount\" content=\"0\"/>\n"
                      "<meta name=\"dtb:maxPageNumber\" content=\"0\"/>\n</head>\n"
                      "<docTitle><text>" + Escaped(facts.title) + "</text></docTitle>\n<navMap>\n";
    // Points with the same target share their place in the reading order.
    std::unordered_map<std::string, std::size_t> places;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const std::size_t place = places.try_emplace(sources[i], places.size() + 1).first->second;
        ncx += "<navPoint id=\"p" + std::to_string(i + 1) + "\" playOrder=\"" + std::to_string(place) +
               "\"><navLabel><text>" +
               Escaped(items[i].text) + "</text></navLabel><content src=\"" + Escaped(sources[i]) + "\"/>";
        const std::size_t next = i + 1 < items.size() ? items[i + 1].depth : 0;
        if (next > items[i].depth) {
            ncx += "\n";
            continue;
        }
        ncx += "</navPoint>\n";
        for (std::size_t d = items[i].depth; d > next; --d) ncx += "</navPoint>\n";
    }
    ncx += "</navMap>\n</ncx>\n";
    return ncx;
}

std::string KeywordDocument(const BookFacts& facts, const site::Sitemap& keywords, const BookLinks& links,
                            const IdCheck& hasId) {
    // Keywords sorted, each with the entries below it kept beneath it.
    std::vector<std::pair<std::size_t, std::size_t>> groups;
    const std::vector<site::SitemapEntry>& entries = keywords.entries;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (groups.empty() || entries[i].depth == 0) groups.push_back({i, i + 1});
        else groups.back().second = i + 1;
    }
    std::vector<std::string> keys(entries.size());
    for (const auto& group : groups) keys[group.first] = site::FoldCase(entries[group.first].name);
    std::stable_sort(groups.begin(), groups.end(),
                     [&](const auto& a, const auto& b) { return keys[a.first] < keys[b.first]; });
    const BookResource& from = RootResource(kKeywordName);
    // A big index makes a page of megabytes: held once, not copied as it grows.
    std::size_t estimate = 1024;
    for (const site::SitemapEntry& entry : entries) {
        estimate += 64 + entry.name.size() * 2 + entry.seeAlso.size();
        for (const site::SitemapTarget& target : entry.targets) estimate += 48 + target.title.size() + target.local.size() * 2;
    }
    std::string page;
    page.reserve(estimate);
    page += Head(facts, facts.title + " - 索引");
    page += "<h1>索引</h1>\n<ul>\n";
    for (const auto& group : groups) {
        for (std::size_t i = group.first; i < group.second; ++i) {
            const site::SitemapEntry& entry = entries[i];
            std::vector<std::string> anchors;
            for (const site::SitemapTarget& target : entry.targets) {
                std::optional<BookLink> link = links.Resolve(target.local, from, LinkUse::Hyperlink);
                if (!link || link->target == nullptr) continue;
                if (!link->fragment.empty() && !hasId(*link->target, link->fragment)) link->fragment.clear();
                anchors.push_back("<a href=\"" + Escaped(BookLinks::Href(*link, kKeywordName)) + "\">" +
                                  Escaped(target.title.empty() ? NameOf(entry) : target.title) + "</a>");
            }
            const std::size_t indent = std::min<std::size_t>(entry.depth, 8);
            page += "<li";
            if (indent > 0) page += " style=\"margin-left:" + std::to_string(indent) + "em;\"";
            page += ">";
            if (anchors.size() == 1 && entry.targets.size() == 1) {
                page += anchors[0].substr(0, anchors[0].find('>') + 1) + Escaped(NameOf(entry)) + "</a>";
            } else {
                page += Escaped(NameOf(entry));
                for (const std::string& anchor : anchors) page += " · " + anchor;
            }
            if (!entry.seeAlso.empty()) page += " (参见 " + Escaped(entry.seeAlso) + ")";
            page += "</li>\n";
        }
    }
    page += "</ul>\n";
    if (keywords.truncated) page += "<p>索引太大，只列出了前一部分。</p>\n";
    page += "</body>\n</html>\n";
    return page;
}

}  // namespace vexmor::epub
