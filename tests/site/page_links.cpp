#include "tests/site/page_links.h"

#include <gumbo.h>

#include <algorithm>
#include <array>

namespace vexmor::sitetest {

namespace {

constexpr std::array<std::string_view, 8> kLinkAttributes{"href", "src",  "background", "lowsrc",
                                                         "dynsrc", "data", "longdesc", "poster"};

class Parsed {
public:
    explicit Parsed(std::string_view html) : output_(gumbo_parse_with_options(&kGumboDefaultOptions, html.data(), html.size())) {}
    ~Parsed() { gumbo_destroy_output(&kGumboDefaultOptions, output_); }
    Parsed(const Parsed&) = delete;
    Parsed& operator=(const Parsed&) = delete;

    // Every element, in document order.
    std::vector<const GumboNode*> Elements() const {
        std::vector<const GumboNode*> elements;
        std::vector<const GumboNode*> pending{output_->document};
        while (!pending.empty()) {
            const GumboNode* node = pending.back();
            pending.pop_back();
            const GumboVector* children = nullptr;
            if (node->type == GUMBO_NODE_DOCUMENT) {
                children = &node->v.document.children;
            } else if (node->type == GUMBO_NODE_ELEMENT || node->type == GUMBO_NODE_TEMPLATE) {
                elements.push_back(node);
                children = &node->v.element.children;
            }
            if (children)
                for (unsigned i = children->length; i-- > 0;)
                    pending.push_back(static_cast<const GumboNode*>(children->data[i]));
        }
        return elements;
    }

private:
    GumboOutput* output_;
};

std::string Folded(std::string_view text) {
    std::string folded(text);
    for (char& c : folded)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return folded;
}

int Hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

struct Span {
    std::size_t offset = 0;
    std::size_t length = 0;
    bool styleText = false;
};

bool SpanOf(std::string_view page, const GumboStringPiece& piece, bool styleText, std::vector<Span>& spans) {
    if (piece.data == nullptr || piece.length == 0 || piece.data < page.data() ||
        piece.data + piece.length > page.data() + page.size())
        return false;
    spans.push_back({static_cast<std::size_t>(piece.data - page.data()), piece.length, styleText});
    return true;
}

std::string Around(std::string_view text, std::size_t at) {
    const std::size_t from = at < 40 ? 0 : at - 40;
    return std::string(text.substr(from, 80));
}

// Empty when `written` is `original` with only the spans' bytes changed.
std::string MatchOutsideSpans(std::string_view original, const std::vector<Span>& spans, std::string_view written) {
    std::size_t inOriginal = 0, inWritten = 0;
    for (const Span& span : spans) {
        if (span.offset < inOriginal) continue;  // nested in one already matched
        const std::string_view gap = original.substr(inOriginal, span.offset - inOriginal);
        if (written.substr(inWritten, gap.size()) != gap)
            return "differs near original byte " + std::to_string(inOriginal) + ": \"" + Around(original, inOriginal) +
                   "\" against \"" + Around(written, inWritten) + "\"";
        inWritten += gap.size();
        const std::string_view raw = original.substr(span.offset, span.length);
        std::size_t end = std::string_view::npos;
        if (span.styleText) {
            end = Folded(written).find("</style", inWritten);
            if (end == std::string_view::npos) end = written.size();
        } else if (inWritten < written.size() && (written[inWritten] == '"' || written[inWritten] == '\'')) {
            const std::size_t close = written.find(written[inWritten], inWritten + 1);
            if (close != std::string_view::npos) end = close + 1;
        } else if (written.substr(inWritten, raw.size()) == raw) {
            end = inWritten + raw.size();
        }
        if (end == std::string_view::npos)
            return "value at original byte " + std::to_string(span.offset) + " (" + std::string(raw) +
                   ") has no counterpart: \"" + Around(written, inWritten) + "\"";
        inOriginal = span.offset + span.length;
        inWritten = end;
    }
    if (original.substr(inOriginal) != written.substr(inWritten))
        return "differs after the last value, near original byte " + std::to_string(inOriginal) + ": \"" +
               Around(original, inOriginal) + "\" against \"" + Around(written, inWritten) + "\"";
    return {};
}

std::size_t Count(std::string_view text, std::string_view word) {
    std::size_t count = 0;
    for (std::size_t at = text.find(word); at != std::string_view::npos; at = text.find(word, at + 1)) ++count;
    return count;
}

}  // namespace

std::vector<std::string> CssLinksOf(std::string_view css) {
    std::vector<std::string> links;
    const std::string folded = Folded(css);
    std::size_t i = 0;
    while (i < css.size()) {
        if (css.substr(i, 2) == "/*") {
            const std::size_t close = css.find("*/", i + 2);
            i = close == std::string_view::npos ? css.size() : close + 2;
            continue;
        }
        const bool url = folded.compare(i, 4, "url(") == 0;
        const bool import = folded.compare(i, 7, "@import") == 0;
        if (!url && !import) {
            if (css[i] == '"' || css[i] == '\'') {
                const std::size_t close = css.find(css[i], i + 1);
                i = close == std::string_view::npos ? css.size() : close + 1;
            } else {
                ++i;
            }
            continue;
        }
        std::size_t at = i + (url ? 4 : 7);
        while (at < css.size() && std::string_view(" \t\r\n\f").find(css[at]) != std::string_view::npos) ++at;
        if (import && folded.compare(at, 4, "url(") == 0) {
            i = at;
            continue;
        }
        if (at < css.size() && (css[at] == '"' || css[at] == '\'')) {
            const std::size_t close = css.find(css[at], at + 1);
            if (close == std::string_view::npos) break;
            links.emplace_back(css.substr(at + 1, close - at - 1));
            i = close + 1;
        } else if (url) {
            const std::size_t close = css.find(')', at);
            if (close == std::string_view::npos) break;
            std::string link(css.substr(at, close - at));
            while (!link.empty() && std::string_view(" \t\r\n\f").find(link.back()) != std::string_view::npos)
                link.pop_back();
            links.push_back(link);
            i = close + 1;
        } else {
            i = at;
        }
    }
    return links;
}

std::vector<PageLink> LinksOf(std::string_view html) {
    std::vector<PageLink> links;
    const Parsed parsed(html);
    for (const GumboNode* node : parsed.Elements()) {
        const GumboElement& element = node->v.element;
        const std::string tag = element.tag == GUMBO_TAG_UNKNOWN
                                    ? Folded(std::string_view(element.original_tag.data, element.original_tag.length))
                                    : gumbo_normalized_tagname(element.tag);
        for (unsigned i = 0; i < element.attributes.length; ++i) {
            const auto* attribute = static_cast<const GumboAttribute*>(element.attributes.data[i]);
            const std::string_view name = attribute->name;
            // `data` is a link on <object> only; pages use it for their own data elsewhere.
            const bool link = name == "data" ? element.tag == GUMBO_TAG_OBJECT
                                             : std::find(kLinkAttributes.begin(), kLinkAttributes.end(), name) !=
                                                   kLinkAttributes.end();
            if (link)
                links.push_back({tag, std::string(name), attribute->value});
            else if (name == "style")
                for (std::string& url : CssLinksOf(attribute->value)) links.push_back({tag, "style", std::move(url)});
        }
        if (element.tag == GUMBO_TAG_STYLE)
            for (unsigned i = 0; i < element.children.length; ++i) {
                const auto* child = static_cast<const GumboNode*>(element.children.data[i]);
                if (child->type == GUMBO_NODE_TEXT || child->type == GUMBO_NODE_CDATA)
                    for (std::string& link : CssLinksOf(child->v.text.text)) links.push_back({"style", "", std::move(link)});
            }
    }
    return links;
}

bool IsRelativeLink(std::string_view link) {
    while (!link.empty() && std::string_view(" \t\r\n\f").find(link.front()) != std::string_view::npos)
        link.remove_prefix(1);
    if (link.empty() || link.starts_with('#') || link.starts_with("//") || link.starts_with("\\\\")) return false;
    for (std::size_t i = 0; i < link.size(); ++i) {
        const char c = link[i];
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (c == ':' && i > 0) return false;
        if (!letter && !(i > 0 && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'))) break;
    }
    return true;
}

std::string LinkPath(std::string_view link) {
    const std::size_t end = link.find_first_of("?#");
    const std::string_view path = link.substr(0, end);
    std::string decoded;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (path[i] == '%' && i + 2 < path.size() && Hex(path[i + 1]) >= 0 && Hex(path[i + 2]) >= 0) {
            decoded += static_cast<char>(Hex(path[i + 1]) * 16 + Hex(path[i + 2]));
            i += 2;
        } else {
            decoded += path[i];
        }
    }
    return decoded;
}

std::string DifferenceOutsideValues(std::string_view original, std::string_view written) {
    std::vector<Span> spans;
    {
        const Parsed parsed(original);
        for (const GumboNode* node : parsed.Elements()) {
            const GumboElement& element = node->v.element;
            for (unsigned i = 0; i < element.attributes.length; ++i)
                SpanOf(original, static_cast<const GumboAttribute*>(element.attributes.data[i])->original_value, false,
                       spans);
            if (element.tag == GUMBO_TAG_STYLE)
                for (unsigned i = 0; i < element.children.length; ++i) {
                    const auto* child = static_cast<const GumboNode*>(element.children.data[i]);
                    if (child->type == GUMBO_NODE_TEXT || child->type == GUMBO_NODE_CDATA)
                        SpanOf(original, child->v.text.original_text, true, spans);
                }
        }
    }
    std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.offset < b.offset; });
    constexpr std::string_view kDeclaration = "<meta charset=\"";
    const std::size_t added = Count(written, kDeclaration) - std::min(Count(written, kDeclaration), Count(original, kDeclaration));
    if (added == 0) return MatchOutsideSpans(original, spans, written);
    if (added > 1) return "more than one charset declaration inserted";
    std::string firstFailure;
    for (std::size_t at = written.find(kDeclaration); at != std::string_view::npos;
         at = written.find(kDeclaration, at + 1)) {
        const std::size_t close = written.find('>', at);
        if (close == std::string_view::npos) break;
        std::string without(written.substr(0, at));
        without += written.substr(close + 1);
        const std::string failure = MatchOutsideSpans(original, spans, without);
        if (failure.empty()) return {};
        if (firstFailure.empty()) firstFailure = failure;
    }
    return firstFailure;
}

}  // namespace vexmor::sitetest
