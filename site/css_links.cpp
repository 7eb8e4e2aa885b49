#include "site/css_links.h"

#include "site/site_names.h"
#include "site/utf8_decoder.h"

namespace vexmor::site {

namespace {

bool IsCssSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

// The link at [start, end) of `css`, if it must change.
void AddEdit(std::string_view css, std::size_t start, std::size_t end, std::size_t base, const LinkContext& context,
             const std::string& charset, std::vector<TextEdit>& edits) {
    const std::string_view raw = css.substr(start, end - start);
    const bool ascii = IsAscii(raw);
    const LinkTarget target = ResolveLink(ascii ? std::string(raw) : DecodeToUtf8(raw, charset), context);
    if (!target.changed) return;
    const bool resolved = target.kind == LinkTarget::Kind::InFile || target.kind == LinkTarget::Kind::OtherFile;
    // Only ASCII text is put back unresolved: a '\' may be half of a
    // character in a double-byte code page.
    if (!resolved && !ascii) return;
    std::string replacement(resolved ? std::string_view(target.href) : raw);
    if (!resolved)
        for (char& c : replacement)
            if (c == '\\') c = '/';
    edits.push_back({base + start, raw.size(), replacement});
}

// Calls found(start, end) for each link of `css`: the text inside url() or
// the string of an @import, without quotes.
template <class Found>
void ForEachCssLink(std::string_view css, Found&& found) {
    std::size_t i = 0;
    const std::size_t n = css.size();
    while (i < n) {
        const char c = css[i];
        if (c == '/' && i + 1 < n && css[i + 1] == '*') {
            const std::size_t close = css.find("*/", i + 2);
            i = close == std::string_view::npos ? n : close + 2;
            continue;
        }
        if (c == '"' || c == '\'') {  // a string outside url() and @import holds no link
            const std::size_t close = css.find(c, i + 1);
            i = close == std::string_view::npos ? n : close + 1;
            continue;
        }
        const bool url = MatchesFoldedAt(css, i, "url(");
        const bool import = !url && MatchesFoldedAt(css, i, "@import");
        if (!url && !import) {
            ++i;
            continue;
        }
        std::size_t at = i + (url ? 4 : 7);
        while (at < n && IsCssSpace(css[at])) ++at;
        if (import && MatchesFoldedAt(css, at, "url(")) {
            i = at;  // the url( of the import is read next
            continue;
        }
        if (at < n && (css[at] == '"' || css[at] == '\'')) {
            const char quote = css[at];
            const std::size_t close = css.find(quote, at + 1);
            if (close == std::string_view::npos) break;
            found(at + 1, close);
            i = close + 1;
        } else if (url) {
            std::size_t close = css.find(')', at);
            if (close == std::string_view::npos) break;
            std::size_t end = close;
            while (end > at && IsCssSpace(css[end - 1])) --end;
            if (end > at) found(at, end);
            i = close + 1;
        } else {
            i = at;
        }
    }
}

}  // namespace

void CollectCssEdits(std::string_view css, std::size_t base, const CssLinkRewrite& rewrite,
                     std::vector<TextEdit>& edits) {
    ForEachCssLink(css, [&](std::size_t start, std::size_t end) {
        if (std::optional<std::string> replacement = rewrite(css.substr(start, end - start)))
            edits.push_back({base + start, end - start, std::move(*replacement)});
    });
}

void CollectCssEdits(std::string_view css, std::size_t base, const LinkContext& context, const std::string& charset,
                     std::vector<TextEdit>& edits) {
    ForEachCssLink(css, [&](std::size_t start, std::size_t end) {
        AddEdit(css, start, end, base, context, charset, edits);
    });
}

std::string RewriteCss(std::string_view css, const LinkContext& context, const std::string& charset) {
    std::vector<TextEdit> edits;
    CollectCssEdits(css, 0, context, charset, edits);
    return edits.empty() ? std::string(css) : ApplyEdits(css, std::move(edits));
}

}  // namespace vexmor::site
