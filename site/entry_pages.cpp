#include "site/entry_pages.h"

#include <algorithm>
#include <vector>

#include "site/site_names.h"
#include "site/utf8_decoder.h"

namespace vexmor::site {

namespace {

// Names of a damaged file may hold bytes that are no UTF-8.
std::string Shown(std::string_view text) {
    return IsUtf8(text) ? std::string(text) : DecodeToUtf8(text, "UTF-8");
}

std::string Head(const std::string& title, const std::string& what) {
    return "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<meta name=\"viewport\" "
           "content=\"width=device-width\">\n<title>" +
           EscapeHtml(Shown(title)) + (what.empty() ? "" : " - " + what) +
           "</title>\n<link rel=\"stylesheet\" href=\"" + std::string(kStyleSheetName) + "\">\n</head>\n";
}

std::string Header(const std::string& title, bool hasKeywords, bool onKeywords) {
    std::string html = "<header>\n<h1>" + EscapeHtml(Shown(title)) + "</h1>\n<nav class=\"tabs\">";
    html += onKeywords ? "<a href=\"" + std::string(kEntryPageName) + "\">目录</a>"
                       : "<a href=\"" + std::string(kEntryPageName) + "\" class=\"here\">目录</a>";
    if (hasKeywords)
        html += onKeywords ? " <a href=\"" + std::string(kKeywordPageName) + "\" class=\"here\">索引</a>"
                           : " <a href=\"" + std::string(kKeywordPageName) + "\">索引</a>";
    html += "</nav>\n<input type=\"search\" id=\"search\" placeholder=\"搜索标题和关键字\" hidden>\n</header>\n";
    return html;
}

std::string Link(const std::string& href, std::string_view text) {
    if (href.empty()) return "<span class=\"nolink\">" + EscapeHtml(Shown(text)) + "</span>";
    return "<a href=\"" + EscapeHtml(href) + "\" target=\"topic\">" + EscapeHtml(Shown(text)) + "</a>";
}

std::string EntryText(const SitemapEntry& entry, const LinkContext& links) {
    std::string html;
    if (entry.targets.size() <= 1) {
        const std::string href = entry.targets.empty() ? std::string() : EntryHref(entry.targets[0].local, links);
        html = Link(href, entry.name);
    } else {
        html = "<span class=\"keyword\">" + EscapeHtml(Shown(entry.name)) + "</span><ul class=\"targets\">";
        for (const SitemapTarget& target : entry.targets)
            html += "<li>" + Link(EntryHref(target.local, links), target.title.empty() ? entry.name : target.title) +
                    "</li>";
        html += "</ul>";
    }
    if (!entry.seeAlso.empty()) html += " <span class=\"see\">参见 " + EscapeHtml(Shown(entry.seeAlso)) + "</span>";
    return html;
}

// Entries nested by their depth into lists, added to `html`; a branch is a
// <details> that a click opens without any script. `order` lists the
// entries to show. Written into the page itself: the list of a big index
// runs to megabytes, and a copy of it would double them.
void AddTree(const std::vector<const SitemapEntry*>& order, const LinkContext& links, bool openTop,
             std::string& html) {
    html += "<ul class=\"tree\">\n";
    std::vector<std::size_t> depths(order.size());
    // A level never starts deeper than one below the entry before it.
    for (std::size_t i = 0; i < order.size(); ++i)
        depths[i] = i == 0 ? 0 : std::min(order[i]->depth, depths[i - 1] + 1);
    std::size_t open = 0;  // branches open around the current entry
    for (std::size_t i = 0; i < order.size(); ++i) {
        const bool branch = i + 1 < order.size() && depths[i + 1] > depths[i];
        if (branch) {
            html += "<li><details";
            html += openTop && depths[i] == 0 ? " open" : "";
            html += "><summary>" + EntryText(*order[i], links) + "</summary>\n<ul>\n";
            ++open;
        } else {
            html += "<li>" + EntryText(*order[i], links) + "</li>\n";
        }
        const std::size_t next = i + 1 < order.size() ? depths[i + 1] : 0;
        // Close the branches the next entry is not inside.
        const std::size_t here = branch ? depths[i] + 1 : depths[i];
        for (std::size_t d = here; d > next && open > 0; --d, --open) html += "</ul>\n</details></li>\n";
    }
    for (; open > 0; --open) html += "</ul>\n</details></li>\n";
    html += "</ul>\n";
}

// A page's text up to its list, and after it.
std::string PageStart(const EntryPageInput& input, bool onKeywords) {
    std::string html = Head(input.title, onKeywords ? "索引" : "");
    html += "<body>\n" + Header(input.title, input.hasKeywords || input.keywords != nullptr, onKeywords);
    html += "<div class=\"panes\">\n<nav class=\"list\" id=\"list\">\n";
    return html;
}

void AddPageEnd(const EntryPageInput& input, std::string& html) {
    html += "</nav>\n<iframe name=\"topic\" title=\"topic\" src=\"" +
            EscapeHtml(input.defaultTopic.empty() ? "about:blank" : input.defaultTopic) + "\"></iframe>\n</div>\n";
    html += "<script src=\"" + std::string(kSearchScriptName) + "\"></script>\n</body>\n</html>\n";
}

// Whether `a` comes before `b` without regard to ASCII case.
bool FoldedLess(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(a[i] >= 'A' && a[i] <= 'Z' ? a[i] - 'A' + 'a' : a[i]);
        const auto y = static_cast<unsigned char>(b[i] >= 'A' && b[i] <= 'Z' ? b[i] - 'A' + 'a' : b[i]);
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

}  // namespace

std::string EscapeHtml(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string EntryHref(const std::string& local, const LinkContext& links) {
    const LinkTarget target = ResolveLink(local, links);
    switch (target.kind) {
        case LinkTarget::Kind::InFile:
        case LinkTarget::Kind::OtherFile: {
            std::string href = target.href;
            // A name such as "a:b.htm" would read as a scheme.
            if (href.find(':') != std::string::npos) return {};
            return href;
        }
        case LinkTarget::Kind::External: {
            std::string href(local);
            // Only printable ASCII: nothing for a browser to read otherwise.
            for (const char c : href)
                if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7F) return {};
            return href;
        }
        default: return {};
    }
}

std::string EntryPage(const EntryPageInput& input) {
    std::vector<const SitemapEntry*> order;
    if (input.contents)
        for (const SitemapEntry& entry : input.contents->entries) order.push_back(&entry);
    std::string html = PageStart(input, false);
    if (order.empty())
        html += "<p class=\"empty\">这个帮助文件没有目录。</p>\n";
    else
        AddTree(order, input.links, true, html);
    if (input.contents && input.contents->truncated) html += "<p class=\"empty\">目录太大，只显示了前一部分。</p>\n";
    AddPageEnd(input, html);
    return html;
}

std::string KeywordPage(const EntryPageInput& input) {
    // Keywords sorted, each with its sub-keywords (the entries below it)
    // kept in their order beneath it.
    std::vector<std::pair<std::size_t, std::size_t>> groups;  // [first, last) of each keyword
    const std::vector<SitemapEntry>& entries = input.keywords->entries;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (groups.empty() || entries[i].depth == 0) groups.push_back({i, i + 1});
        else groups.back().second = i + 1;
    }
    std::stable_sort(groups.begin(), groups.end(), [&](const auto& a, const auto& b) {
        return FoldedLess(entries[a.first].name, entries[b.first].name);
    });
    std::vector<const SitemapEntry*> order;
    order.reserve(entries.size());
    for (const auto& group : groups)
        for (std::size_t i = group.first; i < group.second; ++i) order.push_back(&entries[i]);
    groups = {};
    std::string html = PageStart(input, true);
    if (order.empty())
        html += "<p class=\"empty\">索引是空的。</p>\n";
    else
        AddTree(order, input.links, true, html);
    if (input.keywords->truncated) html += "<p class=\"empty\">索引太大，只显示了前一部分。</p>\n";
    AddPageEnd(input, html);
    return html;
}

std::string SiteStyleSheet() {
    return R"css(html, body { height: 100%; margin: 0; }
body { display: flex; flex-direction: column; font-family: sans-serif; font-size: 14px; }
header { display: flex; align-items: center; gap: 1em; padding: 4px 10px; border-bottom: 1px solid #ccc; background: #f4f4f4; }
header h1 { font-size: 16px; margin: 0; flex: 1; overflow: hidden; text-overflow: ellipsis; white-space: nowrap; }
.tabs a { margin-right: .5em; }
.tabs a.here { font-weight: bold; color: inherit; text-decoration: none; }
.panes { flex: 1; display: flex; min-height: 0; }
nav.list { width: 22em; min-width: 10em; resize: horizontal; overflow: auto; border-right: 1px solid #ccc; padding: 4px; }
iframe { flex: 1; border: 0; height: 100%; }
ul.tree, ul.tree ul { list-style: none; margin: 0; padding-left: 1.1em; }
ul.tree { padding-left: 0; }
ul.tree li { margin: 1px 0; white-space: nowrap; }
summary { cursor: pointer; }
.nolink { color: #666; }
.see { color: #666; font-style: italic; }
ul.targets { padding-left: 1.1em; }
.empty { color: #666; }
)css";
}

std::string SearchScript() {
    return R"js(// Filters the list by the text typed: an entry stays when its text or an
// entry below it holds every word typed; the branches around it open.
(function () {
  var box = document.getElementById('search');
  var list = document.getElementById('list');
  if (!box || !list) return;
  box.hidden = false;
  var items = Array.prototype.slice.call(list.querySelectorAll('li'));
  var texts = items.map(function (li) {
    var own = li.querySelector('summary') || li;
    return own.textContent.toLowerCase();
  });
  box.addEventListener('input', function () {
    var words = box.value.toLowerCase().split(/\s+/).filter(Boolean);
    items.forEach(function (li, i) {
      var hit = words.every(function (w) { return texts[i].indexOf(w) >= 0; });
      li.dataset.hit = hit ? '1' : '';
    });
    for (var i = items.length - 1; i >= 0; --i) {
      var li = items[i];
      var shown = !words.length || li.dataset.hit === '1' || li.querySelector('li[data-shown="1"]') !== null;
      li.dataset.shown = shown ? '1' : '';
      li.hidden = !shown;
      var details = li.querySelector(':scope > details');
      if (details && words.length && shown) details.open = true;
    }
  });
})();
)js";
}

}  // namespace vexmor::site
