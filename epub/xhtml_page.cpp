#include "epub/xhtml_page.h"

#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "epub/page_tree.h"
#include "epub/presentation.h"
#include "epub/xhtml_text.h"
#include "site/css_links.h"
#include "site/site_names.h"
#include "site/text_edits.h"
#include "site/utf8_decoder.h"

namespace vexmor::epub {

namespace {

// ---- charset ----------------------------------------------------------

// The charset a <meta> names, found by a look at the bytes (no parse):
// "charset" inside a tag that begins "<meta".
std::string DeclaredLabel(std::string_view bytes) {
    std::size_t at = 0;
    while ((at = bytes.find_first_of("cC", at)) != std::string_view::npos) {
        if (!site::MatchesFoldedAt(bytes, at, "charset")) {
            ++at;
            continue;
        }
        const std::size_t open = bytes.rfind('<', at);
        const std::size_t close = bytes.rfind('>', at);
        std::size_t value = at + 7;
        at = value;
        if (open == std::string_view::npos || (close != std::string_view::npos && close > open) ||
            !site::MatchesFoldedAt(bytes, open + 1, "meta"))
            continue;
        while (value < bytes.size() && (bytes[value] == ' ' || bytes[value] == '\t' || bytes[value] == '\n' || bytes[value] == '\r')) ++value;
        if (value >= bytes.size() || bytes[value] != '=') continue;
        ++value;
        while (value < bytes.size() && (bytes[value] == ' ' || bytes[value] == '"' || bytes[value] == '\'')) ++value;
        std::size_t end = value;
        while (end < bytes.size() && end - value < 40 &&
               ((bytes[end] >= 'a' && bytes[end] <= 'z') || (bytes[end] >= 'A' && bytes[end] <= 'Z') ||
                (bytes[end] >= '0' && bytes[end] <= '9') || bytes[end] == '-' || bytes[end] == '_' ||
                bytes[end] == '.' || bytes[end] == ':'))
            ++end;
        if (end > value) return site::FoldCase(bytes.substr(value, end - value));
    }
    return {};
}

// The iconv name of a charset label, as browsers read the label.
std::string IconvNameOf(const std::string& label) {
    static const std::unordered_map<std::string, std::string> kNames{
        {"utf-8", "UTF-8"}, {"utf8", "UTF-8"}, {"unicode", "UTF-8"}, {"utf-16", "UTF-8"},
        {"gb2312", "GB18030"}, {"gbk", "GB18030"}, {"x-gbk", "GB18030"}, {"gb18030", "GB18030"},
        {"csgb2312", "GB18030"}, {"chinese", "GB18030"}, {"big5", "BIG5-HKSCS"}, {"big5-hkscs", "BIG5-HKSCS"},
        {"x-x-big5", "BIG5-HKSCS"}, {"shift_jis", "CP932"}, {"shift-jis", "CP932"}, {"sjis", "CP932"},
        {"x-sjis", "CP932"}, {"ms_kanji", "CP932"}, {"windows-31j", "CP932"}, {"euc-kr", "CP949"},
        {"ks_c_5601-1987", "CP949"}, {"korean", "CP949"}, {"iso-8859-1", "CP1252"}, {"latin1", "CP1252"},
        {"us-ascii", "CP1252"}, {"ascii", "CP1252"}, {"iso-8859-9", "CP1254"}, {"x-mac-roman", "MACINTOSH"},
    };
    if (const auto found = kNames.find(label); found != kNames.end()) return found->second;
    if (label.starts_with("windows-") || label.starts_with("iso-8859-") || label.starts_with("koi8-") ||
        label.starts_with("cp") || label == "euc-jp" || label == "iso-2022-jp" || label == "tis-620")
        return label;
    return {};
}

// ---- what becomes of each element --------------------------------------

bool IsFlowOnlyTag(GumboTag tag) {
    switch (tag) {
        case GUMBO_TAG_DIV: case GUMBO_TAG_P: case GUMBO_TAG_UL: case GUMBO_TAG_OL: case GUMBO_TAG_DL:
        case GUMBO_TAG_TABLE: case GUMBO_TAG_H1: case GUMBO_TAG_H2: case GUMBO_TAG_H3: case GUMBO_TAG_H4:
        case GUMBO_TAG_H5: case GUMBO_TAG_H6: case GUMBO_TAG_PRE: case GUMBO_TAG_BLOCKQUOTE: case GUMBO_TAG_HR:
        case GUMBO_TAG_CENTER: case GUMBO_TAG_ADDRESS: case GUMBO_TAG_FIELDSET: case GUMBO_TAG_DIR:
        case GUMBO_TAG_MENU: case GUMBO_TAG_LI: case GUMBO_TAG_DD: case GUMBO_TAG_DT: case GUMBO_TAG_XMP:
        case GUMBO_TAG_LISTING: case GUMBO_TAG_PLAINTEXT: case GUMBO_TAG_SECTION: case GUMBO_TAG_ARTICLE:
        case GUMBO_TAG_ASIDE: case GUMBO_TAG_HEADER: case GUMBO_TAG_FOOTER: case GUMBO_TAG_NAV: case GUMBO_TAG_MAIN:
        case GUMBO_TAG_FIGURE: case GUMBO_TAG_FIGCAPTION: case GUMBO_TAG_DETAILS: case GUMBO_TAG_SUMMARY:
        case GUMBO_TAG_LEGEND: case GUMBO_TAG_CAPTION: case GUMBO_TAG_TR: case GUMBO_TAG_TD: case GUMBO_TAG_TH:
        case GUMBO_TAG_TBODY: case GUMBO_TAG_THEAD: case GUMBO_TAG_TFOOT: case GUMBO_TAG_HGROUP:
        case GUMBO_TAG_MULTICOL: case GUMBO_TAG_MARQUEE:
            return true;
        default: return false;
    }
}

// Elements left out with all they hold.
bool IsDropped(GumboTag tag) {
    switch (tag) {
        case GUMBO_TAG_SCRIPT: case GUMBO_TAG_STYLE: case GUMBO_TAG_TEMPLATE: case GUMBO_TAG_META:
        case GUMBO_TAG_LINK: case GUMBO_TAG_BASE: case GUMBO_TAG_TITLE: case GUMBO_TAG_HEAD: case GUMBO_TAG_INPUT:
        case GUMBO_TAG_SELECT: case GUMBO_TAG_TEXTAREA: case GUMBO_TAG_OPTION: case GUMBO_TAG_OPTGROUP:
        case GUMBO_TAG_DATALIST: case GUMBO_TAG_PARAM: case GUMBO_TAG_APPLET: case GUMBO_TAG_EMBED:
        case GUMBO_TAG_SVG: case GUMBO_TAG_CANVAS: case GUMBO_TAG_VIDEO: case GUMBO_TAG_AUDIO: case GUMBO_TAG_SOURCE:
        case GUMBO_TAG_TRACK: case GUMBO_TAG_BGSOUND: case GUMBO_TAG_BASEFONT: case GUMBO_TAG_SPACER:
        case GUMBO_TAG_ISINDEX: case GUMBO_TAG_KEYGEN: case GUMBO_TAG_NEXTID: case GUMBO_TAG_FRAME:
        case GUMBO_TAG_NOEMBED: case GUMBO_TAG_COL: case GUMBO_TAG_COLGROUP: case GUMBO_TAG_IMAGE:
        case GUMBO_TAG_MENUITEM: case GUMBO_TAG_OUTPUT: case GUMBO_TAG_METER: case GUMBO_TAG_PROGRESS:
            return true;
        default: return false;
    }
}

// The phrasing elements of XHTML that a page's elements are written as.
bool IsPhrasingOutput(GumboTag tag) {
    switch (tag) {
        case GUMBO_TAG_A: case GUMBO_TAG_ABBR: case GUMBO_TAG_B: case GUMBO_TAG_BDI: case GUMBO_TAG_BDO:
        case GUMBO_TAG_BR: case GUMBO_TAG_CITE: case GUMBO_TAG_CODE: case GUMBO_TAG_DEL: case GUMBO_TAG_DFN:
        case GUMBO_TAG_EM: case GUMBO_TAG_I: case GUMBO_TAG_IMG: case GUMBO_TAG_INS: case GUMBO_TAG_KBD:
        case GUMBO_TAG_MARK: case GUMBO_TAG_Q: case GUMBO_TAG_S: case GUMBO_TAG_SAMP: case GUMBO_TAG_SMALL:
        case GUMBO_TAG_SPAN: case GUMBO_TAG_STRONG: case GUMBO_TAG_SUB: case GUMBO_TAG_SUP: case GUMBO_TAG_U:
        case GUMBO_TAG_VAR: case GUMBO_TAG_WBR:
            return true;
        default: return false;
    }
}

// Where an element is written as its content only.
constexpr GumboTag kContentOnly = GUMBO_TAG_UNKNOWN;

// The XHTML element an element is written as; kContentOnly: only its content.
GumboTag OutputTag(GumboTag tag) {
    if (IsPhrasingOutput(tag)) return tag;
    switch (tag) {
        case GUMBO_TAG_DIV: case GUMBO_TAG_P: case GUMBO_TAG_UL:
        case GUMBO_TAG_OL: case GUMBO_TAG_LI: case GUMBO_TAG_DL: case GUMBO_TAG_DT: case GUMBO_TAG_DD:
        case GUMBO_TAG_TABLE: case GUMBO_TAG_CAPTION: case GUMBO_TAG_TBODY: case GUMBO_TAG_THEAD:
        case GUMBO_TAG_TFOOT: case GUMBO_TAG_TR: case GUMBO_TAG_TD: case GUMBO_TAG_TH: case GUMBO_TAG_H1:
        case GUMBO_TAG_H2: case GUMBO_TAG_H3: case GUMBO_TAG_H4: case GUMBO_TAG_H5: case GUMBO_TAG_H6:
        case GUMBO_TAG_PRE: case GUMBO_TAG_BLOCKQUOTE: case GUMBO_TAG_HR:
            return tag;
        case GUMBO_TAG_FONT: case GUMBO_TAG_BIG: case GUMBO_TAG_TT: case GUMBO_TAG_NOBR: case GUMBO_TAG_BLINK:
        case GUMBO_TAG_LABEL: case GUMBO_TAG_TIME: case GUMBO_TAG_DATA: case GUMBO_TAG_BUTTON:
        case GUMBO_TAG_RUBY: case GUMBO_TAG_RT: case GUMBO_TAG_RP: case GUMBO_TAG_RB: case GUMBO_TAG_RTC:
            return GUMBO_TAG_SPAN;
        case GUMBO_TAG_STRIKE: return GUMBO_TAG_S;
        case GUMBO_TAG_ACRONYM: return GUMBO_TAG_ABBR;
        case GUMBO_TAG_DIR: case GUMBO_TAG_MENU: return GUMBO_TAG_UL;
        case GUMBO_TAG_XMP: case GUMBO_TAG_LISTING: case GUMBO_TAG_PLAINTEXT: return GUMBO_TAG_PRE;
        case GUMBO_TAG_CENTER: case GUMBO_TAG_ADDRESS: case GUMBO_TAG_FIELDSET: case GUMBO_TAG_LEGEND:
        case GUMBO_TAG_SECTION: case GUMBO_TAG_ARTICLE: case GUMBO_TAG_ASIDE: case GUMBO_TAG_HEADER:
        case GUMBO_TAG_FOOTER: case GUMBO_TAG_NAV: case GUMBO_TAG_MAIN: case GUMBO_TAG_FIGURE:
        case GUMBO_TAG_FIGCAPTION: case GUMBO_TAG_DETAILS: case GUMBO_TAG_SUMMARY: case GUMBO_TAG_HGROUP:
        case GUMBO_TAG_MULTICOL: case GUMBO_TAG_MARQUEE:
            return GUMBO_TAG_DIV;
        default: return kContentOnly;  // form, noscript, noframes, map, unknown tags, ...
    }
}

// Tag names with their lengths, looked up once.
std::string_view NameOf(GumboTag tag) {
    static const std::vector<std::string_view> kNames = [] {
        std::vector<std::string_view> names(GUMBO_TAG_LAST + 1);
        for (int each = 0; each <= GUMBO_TAG_LAST; ++each)
            names[static_cast<std::size_t>(each)] = gumbo_normalized_tagname(static_cast<GumboTag>(each));
        return names;
    }();
    return static_cast<std::size_t>(tag) < kNames.size() ? kNames[static_cast<std::size_t>(tag)] : std::string_view();
}

bool IsTransparent(GumboTag tag) { return tag == GUMBO_TAG_A || tag == GUMBO_TAG_INS || tag == GUMBO_TAG_DEL; }

bool HoldsPhrasingOnly(GumboTag tag) {
    switch (tag) {
        case GUMBO_TAG_P: case GUMBO_TAG_H1: case GUMBO_TAG_H2: case GUMBO_TAG_H3: case GUMBO_TAG_H4:
        case GUMBO_TAG_H5: case GUMBO_TAG_H6: case GUMBO_TAG_PRE: case GUMBO_TAG_DT:
            return true;
        default: return IsPhrasingOutput(tag) && !IsTransparent(tag);
    }
}

bool IsVoid(GumboTag tag) {
    return tag == GUMBO_TAG_BR || tag == GUMBO_TAG_IMG || tag == GUMBO_TAG_HR || tag == GUMBO_TAG_WBR;
}

// What a phrasing element or a heading looks like, for the div that takes
// its place where it holds blocks.
std::string LookOf(GumboTag tag) {
    switch (tag) {
        case GUMBO_TAG_P: return "margin-top:1em;margin-bottom:1em;";
        case GUMBO_TAG_H1: return "font-size:2em;font-weight:bold;margin:0.67em 0;";
        case GUMBO_TAG_H2: return "font-size:1.5em;font-weight:bold;margin:0.83em 0;";
        case GUMBO_TAG_H3: return "font-size:1.17em;font-weight:bold;margin:1em 0;";
        case GUMBO_TAG_H4: return "font-weight:bold;margin:1.33em 0;";
        case GUMBO_TAG_H5: return "font-size:0.83em;font-weight:bold;margin:1.67em 0;";
        case GUMBO_TAG_H6: return "font-size:0.67em;font-weight:bold;margin:2.33em 0;";
        case GUMBO_TAG_PRE: return "white-space:pre;font-family:monospace;margin:1em 0;";
        case GUMBO_TAG_B: case GUMBO_TAG_STRONG: return "font-weight:bold;";
        case GUMBO_TAG_I: case GUMBO_TAG_EM: case GUMBO_TAG_CITE: case GUMBO_TAG_DFN: case GUMBO_TAG_VAR:
            return "font-style:italic;";
        case GUMBO_TAG_U: return "text-decoration:underline;";
        case GUMBO_TAG_S: return "text-decoration:line-through;";
        case GUMBO_TAG_SMALL: return "font-size:smaller;";
        case GUMBO_TAG_CODE: case GUMBO_TAG_KBD: case GUMBO_TAG_SAMP: return "font-family:monospace;";
        case GUMBO_TAG_DT: return "font-weight:bold;";
        default: return {};
    }
}

// The display of an element written as a span inside phrasing content.
std::string DisplayOf(GumboTag tag) {
    switch (tag) {
        case GUMBO_TAG_TABLE: return "display:table;";
        case GUMBO_TAG_TR: return "display:table-row;";
        case GUMBO_TAG_TD: case GUMBO_TAG_TH: return "display:table-cell;";
        case GUMBO_TAG_TBODY: return "display:table-row-group;";
        case GUMBO_TAG_THEAD: return "display:table-header-group;";
        case GUMBO_TAG_TFOOT: return "display:table-footer-group;";
        case GUMBO_TAG_CAPTION: return "display:table-caption;";
        case GUMBO_TAG_LI: return "display:list-item;";
        default: return "display:block;";
    }
}

const char* AttributeValue(const PageNode& element, const char* name) { return AttributeOf(element, name); }

bool IsWhitespace(std::string_view text) {
    for (const char c : text)
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r' && c != '\f') return false;
    return true;
}

bool IsLanguageTag(std::string_view value) {
    if (value.empty() || value.size() > 35) return false;
    for (const char c : value)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-')) return false;
    return value.front() != '-' && value.back() != '-';
}

bool IsInteger(std::string_view value) {
    if (value.starts_with('-')) value.remove_prefix(1);
    return IsNonNegativeInteger(value);
}

bool IsHelpControl(const PageNode& object) {
    const char* classId = AttributeValue(object, "classid");
    return classId != nullptr && site::FoldCase(classId).find("adb880a6-d8ff-11cf-9377-00aa003b7a11") != std::string::npos;
}

// The targets a "related topics" control names: its ItemN parameters, each
// "title;link".
std::vector<std::pair<std::string, std::string>> RelatedTopics(const PageNode& object) {
    std::vector<std::pair<std::string, std::string>> topics;
    for (const PageNode* child = object.children; child != nullptr; child = child->next) {
        if (!IsElement(child) || TagOf(*child) != GUMBO_TAG_PARAM) continue;
        const char* name = AttributeValue(*child, "name");
        const char* value = AttributeValue(*child, "value");
        if (name == nullptr || value == nullptr || !site::FoldCase(name).starts_with("item")) continue;
        const std::string_view text = value;
        const std::size_t semicolon = text.find(';');
        if (semicolon == std::string_view::npos) continue;
        topics.emplace_back(std::string(text.substr(0, semicolon)), std::string(text.substr(semicolon + 1)));
    }
    return topics;
}

// ---- the writer --------------------------------------------------------

class PageWriter {
public:
    PageWriter(const PageInput& input, LinkMemo* memo) : input_(input), memo_(memo), from_(input.page->entry) {}

    // `html`: the root, or nullptr for an empty page.
    PageDraft Draft(const PageNode* html) {
        const PageNode* body = nullptr;
        const PageNode* frameset = nullptr;
        if (html != nullptr) {
            for (const PageNode* child : Children(html)) {
                if (!IsElement(child)) continue;
                if (TagOf(*child) == GUMBO_TAG_BODY) body = child;
                if (TagOf(*child) == GUMBO_TAG_FRAMESET) frameset = child;
            }
        }
        if (html != nullptr) Gather(html);
        AssignIds(body != nullptr ? body : html);

        PageDraft draft;
        out_ = &draft.body;
        if (body != nullptr) {
            WriteContent(body, false);
        } else if (frameset != nullptr) {
            Frames(frameset);
        }
        out_ = nullptr;

        std::string& page = draft.head;
        page = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE html>\n"
                           "<html xmlns=\"http://www.w3.org/1999/xhtml\"";
        const std::string language = IsLanguageTag(input_.language) ? input_.language : std::string();
        if (!language.empty()) page += " lang=\"" + language + "\" xml:lang=\"" + language + "\"";
        page += ">\n<head>\n<meta charset=\"utf-8\"/>\n<title>";
        std::string title = title_;
        if (IsWhitespace(title)) {
            const std::size_t slash = input_.page->stored.rfind('/');
            title = slash == std::string::npos ? input_.page->stored : input_.page->stored.substr(slash + 1);
        }
        AppendXmlText(page, title);
        page += "</title>\n";
        for (const std::string& sheet : sheets_) page += "<link rel=\"stylesheet\" type=\"text/css\" href=\"" + XmlText(sheet, true) + "\"/>\n";
        if (!styles_.empty()) {
            page += "<style type=\"text/css\">\n";
            AppendXmlText(page, styles_);
            page += "\n</style>\n";
        }
        page += "</head>\n<body";
        if (body != nullptr) {
            const PageNode& element = *body;
            std::string css = PresentationCss(element, Background(element));
            AppendGlobalAttributes(page, body, element, css);
        }
        page += ">\n";
        const std::size_t slash = from_.rfind('/');
        draft.self = site::PercentEncode(slash == std::string::npos ? from_ : from_.substr(slash + 1));
        draft.links = std::move(links_);
        draft.fragments = std::move(fragments_);
        draft.ids = std::move(emitted_);
        return draft;
    }

private:
    std::optional<BookLink> Resolve(std::string_view link, LinkUse use) const {
        return memo_ != nullptr ? input_.links->Resolve(link, *input_.page, use, *memo_)
                                : input_.links->Resolve(link, *input_.page, use);
    }

    // The children of an element.
    class Kids {
    public:
        explicit Kids(const PageNode* parent) : parent_(parent) {}
        struct Iterator {
            const PageNode* at;
            const PageNode* operator*() const { return at; }
            Iterator& operator++() {
                at = at->next;
                return *this;
            }
            bool operator!=(const Iterator& other) const { return at != other.at; }
        };
        Iterator begin() const { return {parent_ == nullptr ? nullptr : parent_->children}; }
        Iterator end() const { return {nullptr}; }
        const PageNode* Last() const { return parent_ == nullptr ? nullptr : parent_->last; }

    private:
        const PageNode* parent_;
    };

    static Kids Children(const PageNode* node) { return Kids(IsElement(node) ? node : nullptr); }

    // The title, style sheets and style elements, wherever they stand.
    void Gather(const PageNode* html) {
        std::vector<const PageNode*> pending{html};
        bool titled = false;
        while (!pending.empty()) {
            const PageNode* node = pending.back();
            pending.pop_back();
            if (!IsElement(node)) continue;
            const PageNode& element = *node;
            if (TagOf(element) == GUMBO_TAG_TITLE && !titled) {
                titled = true;
                title_ = TextWithin(node);
            } else if (TagOf(element) == GUMBO_TAG_STYLE) {
                styles_ += StyleText(TextWithin(node));
                styles_ += '\n';
            } else if (TagOf(element) == GUMBO_TAG_LINK) {
                const char* rel = AttributeValue(element, "rel");
                const char* href = AttributeValue(element, "href");
                if (rel != nullptr && href != nullptr && site::FoldCase(rel).find("stylesheet") != std::string::npos &&
                    site::FoldCase(rel).find("alternate") == std::string::npos)
                    if (const auto link = Resolve(href, LinkUse::StyleSheet))
                        sheets_.push_back(BookLinks::Href(*link, from_));
            } else if (TagOf(element) == GUMBO_TAG_BODY) {
                const char* link = AttributeValue(element, "link");
                const char* vlink = AttributeValue(element, "vlink");
                if (link && !CssColour(link).empty()) styles_ += "a:link { color: " + CssColour(link) + "; }\n";
                if (vlink && !CssColour(vlink).empty()) styles_ += "a:visited { color: " + CssColour(vlink) + "; }\n";
            }
            if (TagOf(element) == GUMBO_TAG_SCRIPT || TagOf(element) == GUMBO_TAG_STYLE || TagOf(element) == GUMBO_TAG_TITLE) continue;
            for (const PageNode* child = Children(node).Last(); child != nullptr; child = child->prev) pending.push_back(child);
        }
    }

    static std::string TextWithin(const PageNode* node) {
        std::string text;
        for (const PageNode* child : Children(node))
            if (IsText(child))
                text += epub::TextOf(child);
        return text;
    }

    // A style sheet's text with its links made the book's, and without the
    // comment marks of HTML that hid it from old browsers.
    std::string StyleText(std::string_view css) const {
        std::string text = Css(css);
        for (const std::string_view mark : {std::string_view("<!--"), std::string_view("-->")}) {
            std::size_t at = 0;
            while ((at = text.find(mark, at)) != std::string::npos) text.replace(at, mark.size(), " ");
        }
        return text;
    }

    std::string Css(std::string_view css) const {
        std::vector<site::TextEdit> edits;
        site::CollectCssEdits(css, 0, [&](std::string_view link) -> std::optional<std::string> {
            const auto target = Resolve(link, LinkUse::Background);
            // A link to what the book lacks would be a fault of the book.
            return target ? BookLinks::Href(*target, from_) : std::string("#");
        }, edits);
        return edits.empty() ? std::string(css) : site::ApplyEdits(css, std::move(edits));
    }

    std::string Background(const PageNode& element) const {
        const char* background = AttributeValue(element, "background");
        if (background == nullptr) return {};
        const auto target = Resolve(background, LinkUse::Background);
        if (!target) return {};
        std::string href = BookLinks::Href(*target, from_);
        for (const char c : href)
            if (c == '"' || c == '\\' || c == '(' || c == ')') return {};
        return href;
    }

    // Ids kept: the first of each name, from id or (on a) name.
    void AssignIds(const PageNode* root) {
        if (root == nullptr) return;
        std::vector<const PageNode*> pending{root};
        while (!pending.empty()) {
            const PageNode* node = pending.back();
            pending.pop_back();
            if (!IsElement(node)) continue;
            const PageNode& element = *node;
            if (IsDropped(TagOf(element))) continue;
            const char* id = AttributeValue(element, "id");
            if (id == nullptr && TagOf(element) == GUMBO_TAG_A) id = AttributeValue(element, "name");
            if (id != nullptr && *id != '\0') {
                std::string name = IdName(id);
                if (known_.insert(name).second) ids_.emplace(node, std::move(name));
            }
            for (const PageNode* child = Children(node).Last(); child != nullptr; child = child->prev) pending.push_back(child);
        }
    }

    // An element on the way down.
    struct Frame {
        const PageNode* node = nullptr;
        const PageNode* cursor = nullptr;      // the next child
        std::vector<const PageNode*> ordered;  // a table's parts, in XHTML's order
        bool reordered = false;
        std::size_t next = 0;
        // The next child to write, nullptr after the last.
        const PageNode* Next() {
            if (reordered) return next < ordered.size() ? ordered[next++] : nullptr;
            const PageNode* child = cursor;
            if (child != nullptr) cursor = child->next;
            return child;
        }
        GumboTag tag = kContentOnly;      // written
        bool phrasing = false;            // the children's context
        GumboTag wrapTag = kContentOnly;  // ul/ol/dl: what stray children are wrapped in
        bool wrapOpen = false;
        bool skipWhitespace = false;
        TableLook table;           // passed on to cells
        bool inLink = false;
    };

    void WriteContent(const PageNode* root, bool phrasing) {
        std::vector<Frame> stack;
        Frame top;
        top.node = root;
        top.cursor = *Children(root).begin();
        top.phrasing = phrasing;
        stack.push_back(std::move(top));
        while (!stack.empty()) {
            Frame& frame = stack.back();
            const PageNode* child = frame.Next();
            if (child == nullptr) {
                if (frame.wrapOpen) AppendEndTag(frame.wrapTag);
                if (frame.tag != kContentOnly && stack.size() > 1) AppendEndTag(frame.tag);
                stack.pop_back();
                continue;
            }
            if (IsText(child)) {
                const std::string_view text = epub::TextOf(child);
                const bool blank = IsWhitespace(text);
                if (frame.skipWhitespace && blank) continue;
                if (frame.wrapTag != kContentOnly && !frame.wrapOpen) {
                    if (blank) continue;
                    OpenWrap(frame);
                }
                AppendXmlText(*out_, text);
                continue;
            }
            if (!IsElement(child)) continue;
            Frame entered;
            if (!Enter(child, frame, entered)) continue;
            stack.push_back(std::move(entered));
        }
    }

    void OpenWrap(Frame& frame) {
        if (frame.wrapTag == GUMBO_TAG_LI) {
            *out_ += "<li style=\"list-style-type:none;\">";
        } else {
            *out_ += '<';
            *out_ += NameOf(frame.wrapTag);
            *out_ += '>';
        }
        frame.wrapOpen = true;
    }

    // Writes the start of `node` inside `parent`; false when nothing of it
    // goes further down.
    bool Enter(const PageNode* node, Frame& parent, Frame& frame) {
        const PageNode& element = *node;
        const GumboTag tag = TagOf(element);
        if (tag == GUMBO_TAG_OBJECT) {
            Object(node, parent);
            if (IsHelpControl(element)) return false;
        } else if (tag == GUMBO_TAG_IFRAME) {
            FrameLink(element, parent);
            return false;
        } else if (tag == GUMBO_TAG_AREA) {
            Area(element, parent);
            return false;
        } else if (IsDropped(tag)) {
            return false;
        }
        GumboTag out = OutputTag(tag);
        std::string css = ElementCss(element);
        frame.node = node;
        frame.inLink = parent.inLink;

        // Where the parent takes only list items or terms, others are wrapped.
        const bool listItem = (out == GUMBO_TAG_LI && (parent.tag == GUMBO_TAG_UL || parent.tag == GUMBO_TAG_OL)) ||
                              ((out == GUMBO_TAG_DT || out == GUMBO_TAG_DD) && parent.tag == GUMBO_TAG_DL);
        if (parent.wrapTag != kContentOnly) {
            if (listItem) {
                if (parent.wrapOpen) {
                    AppendEndTag(parent.wrapTag);
                    parent.wrapOpen = false;
                }
            } else if (!parent.wrapOpen) {
                OpenWrap(parent);
            }
        }
        if (!listItem && (out == GUMBO_TAG_LI || out == GUMBO_TAG_DT || out == GUMBO_TAG_DD)) {
            css = (out == GUMBO_TAG_LI ? std::string("display:list-item;") : LookOf(out)) + css;
            out = GUMBO_TAG_DIV;
        }
        if (out == GUMBO_TAG_A) {
            if (parent.inLink) out = kContentOnly;
            frame.inLink = true;
        }
        if (out == GUMBO_TAG_BDO && AttributeValue(element, "dir") == nullptr) out = GUMBO_TAG_SPAN;

        if (out == kContentOnly) {
            frame.phrasing = parent.phrasing;
        } else if (parent.phrasing && !IsPhrasingOutput(out)) {
            css = DisplayOf(tag) + LookOf(out) + css;
            out = GUMBO_TAG_SPAN;
            frame.phrasing = true;
        } else if (!parent.phrasing && (HoldsPhrasingOnly(out) || out == GUMBO_TAG_SPAN) && HoldsBlocks(node)) {
            css = LookOf(out) + css;
            out = GUMBO_TAG_DIV;
            frame.phrasing = false;
        } else {
            frame.phrasing = IsTransparent(out) ? parent.phrasing : HoldsPhrasingOnly(out);
        }
        frame.tag = out;
        if (out == GUMBO_TAG_UL || out == GUMBO_TAG_OL) frame.wrapTag = GUMBO_TAG_LI;
        if (out == GUMBO_TAG_DL) frame.wrapTag = GUMBO_TAG_DD;
        if (out == GUMBO_TAG_TABLE || out == GUMBO_TAG_TBODY || out == GUMBO_TAG_THEAD || out == GUMBO_TAG_TFOOT ||
            out == GUMBO_TAG_TR)
            frame.skipWhitespace = true;
        if (out == GUMBO_TAG_TABLE) frame.table = TableLookOf(element);
        else if (tag == GUMBO_TAG_TBODY || tag == GUMBO_TAG_THEAD || tag == GUMBO_TAG_TFOOT || tag == GUMBO_TAG_TR)
            frame.table = parent.table;
        if (tag == GUMBO_TAG_TD || tag == GUMBO_TAG_TH) css.insert(0, CellCssOf(parent.table));

        if (tag == GUMBO_TAG_IMG) {
            Image(node, element, css);
            return false;
        }
        if (out == GUMBO_TAG_TABLE) {
            frame.ordered = TableChildren(node);
            frame.reordered = true;
        } else {
            frame.cursor = *Children(node).begin();
        }
        if (out == kContentOnly) return true;
        *out_ += '<';
        *out_ += NameOf(out);
        css += PresentationCss(element, Background(element));
        AppendGlobalAttributes(*out_, node, element, css);
        AppendOwnAttributes(out, element, parent);
        if (IsVoid(out)) {
            *out_ += "/>";
            frame.tag = kContentOnly;
            return false;
        }
        *out_ += ">";
        return true;
    }

    // Whether a block would stand inside `node` if it were written as it
    // is: a block among its children, or inside a phrasing child.
    bool HoldsBlocks(const PageNode* node) {
        if (node->holdsBlocks >= 0) return node->holdsBlocks != 0;
        // Depth first without recursion: a child's answer is known before its parent's.
        std::vector<std::pair<const PageNode*, bool>> pending{{node, false}};
        while (!pending.empty()) {
            auto [current, visited] = pending.back();
            pending.pop_back();
            const Kids children = Children(current);
            if (!visited) {
                pending.emplace_back(current, true);
                for (const PageNode* child : children)
                    if (IsElement(child) && child->holdsBlocks < 0) pending.emplace_back(child, false);
                continue;
            }
            bool blocks = false;
            for (const PageNode* child : children) {
                if (!IsElement(child)) continue;
                const GumboTag tag = TagOf(*child);
                if (IsDropped(tag)) continue;
                if (IsFlowOnlyTag(tag) || (tag == GUMBO_TAG_OBJECT && !RelatedTopics(*child).empty())) {
                    blocks = true;
                    break;
                }
                if (child->holdsBlocks > 0) {
                    blocks = true;
                    break;
                }
            }
            current->holdsBlocks = blocks ? 1 : 0;
        }
        return node->holdsBlocks > 0;
    }

    // A table's parts in the order XHTML wants them.
    static std::vector<const PageNode*> TableChildren(const PageNode* table) {
        std::vector<const PageNode*> caption, head, bodies, foot;
        for (const PageNode* child : Children(table)) {
            if (!IsElement(child)) continue;
            switch (TagOf(*child)) {
                case GUMBO_TAG_CAPTION:
                    if (caption.empty()) caption.push_back(child);
                    break;
                case GUMBO_TAG_THEAD:
                    (head.empty() ? head : bodies).push_back(child);
                    break;
                case GUMBO_TAG_TFOOT:
                    (foot.empty() ? foot : bodies).push_back(child);
                    break;
                case GUMBO_TAG_TBODY:
                case GUMBO_TAG_TR: bodies.push_back(child); break;
                default: break;
            }
        }
        std::vector<const PageNode*> ordered = caption;
        ordered.insert(ordered.end(), head.begin(), head.end());
        ordered.insert(ordered.end(), bodies.begin(), bodies.end());
        ordered.insert(ordered.end(), foot.begin(), foot.end());
        return ordered;
    }

    void AppendGlobalAttributes(std::string& out, const PageNode* node, const PageNode& element,
                                std::string css) {
        if (const auto id = ids_.find(node); id != ids_.end()) {
            out += " id=\"" + id->second + "\"";
            emitted_.insert(id->second);
        }
        if (const char* value = AttributeValue(element, "class"); value && !IsWhitespace(value))
            out += " class=\"" + XmlText(value, true) + "\"";
        if (const char* value = AttributeValue(element, "title"); value && *value)
            out += " title=\"" + XmlText(value, true) + "\"";
        if (const char* value = AttributeValue(element, "lang"); value && IsLanguageTag(value))
            out += " lang=\"" + std::string(value) + "\"";
        if (const char* value = AttributeValue(element, "dir")) {
            const std::string folded = site::FoldCase(value);
            if (folded == "ltr" || folded == "rtl" || folded == "auto") out += " dir=\"" + folded + "\"";
        }
        if (const char* value = AttributeValue(element, "style"); value && !IsWhitespace(value)) {
            if (!css.empty() && css.back() != ';') css += ';';
            css += Css(value);
        }
        if (!IsWhitespace(css)) out += " style=\"" + XmlText(css, true) + "\"";
    }

    // The cells of a table all look alike: their declarations are made once.
    const std::string& CellCssOf(const TableLook& look) {
        if (!cellLook_ || cellLook_->border != look.border || cellLook_->cellPadding != look.cellPadding) {
            cellLook_ = look;
            cellCss_ = CellCss(look);
        }
        return cellCss_;
    }

    void AppendEndTag(GumboTag tag) {
        *out_ += "</";
        *out_ += NameOf(tag);
        *out_ += '>';
    }

    void AppendOwnAttributes(GumboTag out, const PageNode& element, const Frame& parent) {
        std::string& page = *out_;
        const auto integer = [&](const char* name, bool positive) {
            const char* value = AttributeValue(element, name);
            if (value == nullptr) return;
            const std::string_view text = value;
            if (positive ? IsNonNegativeInteger(text) && std::stoll(std::string(text)) > 0 : IsInteger(text))
                page += std::string(" ") + name + "=\"" + std::string(text) + "\"";
        };
        if (out == GUMBO_TAG_A) {
            if (const char* href = AttributeValue(element, "href"))
                if (const auto link = Resolve(href, LinkUse::Hyperlink)) Href(*link);
        } else if (out == GUMBO_TAG_TD || out == GUMBO_TAG_TH) {
            integer("colspan", true);
            integer("rowspan", true);
            if (out == GUMBO_TAG_TH) {
                if (const char* scope = AttributeValue(element, "scope")) {
                    const std::string folded = site::FoldCase(scope);
                    if (folded == "row" || folded == "col" || folded == "rowgroup" || folded == "colgroup")
                        page += " scope=\"" + folded + "\"";
                }
            }
        } else if (out == GUMBO_TAG_OL) {
            integer("start", false);
            if (const char* type = AttributeValue(element, "type")) {
                const std::string_view text = type;
                if (text == "1" || text == "a" || text == "A" || text == "i" || text == "I")
                    page += " type=\"" + std::string(text) + "\"";
            }
        } else if (out == GUMBO_TAG_LI && parent.tag == GUMBO_TAG_OL) {
            integer("value", false);
        } else if (out == GUMBO_TAG_BDO) {
            // dir was written with the global attributes, when valid.
            if (AttributeValue(element, "dir") != nullptr) {
                const std::string folded = site::FoldCase(AttributeValue(element, "dir"));
                if (folded != "ltr" && folded != "rtl") page += " dir=\"ltr\"";
            }
        }
    }

    // An href, its fragment noted to be checked once the page is finished.
    void Href(const BookLink& link) {
        std::string& page = *out_;
        page += " href=\"";
        const std::string href = XmlText(BookLinks::Href(link, from_), true);
        if (!link.fragment.empty() && link.target == input_.page) {
            fragments_.push_back({page.size(), href.size(), link.fragment});
        } else if (!link.fragment.empty() && link.target != nullptr) {
            BookLink whole = link;
            whole.fragment.clear();
            links_.push_back({page.size(), href.size(), link.target, link.fragment, XmlText(BookLinks::Href(whole, from_), true)});
        }
        page += href;
        page += "\"";
    }

    void Image(const PageNode* node, const PageNode& element, std::string css) {
        const char* src = AttributeValue(element, "src");
        const char* alt = AttributeValue(element, "alt");
        const auto link = src ? Resolve(src, LinkUse::Image) : std::nullopt;
        if (!link) {
            // The image is not in the book: its text stands for it.
            if (alt != nullptr) AppendXmlText(*out_, alt);
            return;
        }
        *out_ += "<img src=\"" + XmlText(BookLinks::Href(*link, from_), true) + "\" alt=\"" +
                 XmlText(alt ? alt : "", true) + "\"";
        for (const char* size : {"width", "height"}) {
            const char* value = AttributeValue(element, size);
            if (value != nullptr && IsNonNegativeInteger(value)) *out_ += std::string(" ") + size + "=\"" + value + "\"";
        }
        css += PresentationCss(element, {});
        AppendGlobalAttributes(*out_, node, element, css);
        *out_ += "/>";
    }

    void LinkList(const std::vector<std::pair<std::string, BookLink>>& links, bool phrasing) {
        if (links.empty()) return;
        std::string& page = *out_;
        page += phrasing ? "<span class=\"related-topics\">" : "<ul class=\"related-topics\">";
        bool first = true;
        for (const auto& [text, link] : links) {
            if (phrasing && !first) page += "; ";
            first = false;
            page += phrasing ? "<a" : "<li><a";
            Href(link);
            page += ">";
            AppendXmlText(page, IsWhitespace(text) ? link.target->stored : text);
            page += phrasing ? "</a>" : "</a></li>";
        }
        page += phrasing ? "</span>" : "</ul>";
    }

    void Object(const PageNode* node, Frame& parent) {
        const PageNode& element = *node;
        if (!IsHelpControl(element)) return;
        std::vector<std::pair<std::string, BookLink>> links;
        for (const auto& [title, target] : RelatedTopics(element))
            if (const auto link = Resolve(target, LinkUse::Hyperlink))
                if (link->target != nullptr) links.emplace_back(title, *link);
        if (links.empty()) return;
        if (parent.wrapTag != kContentOnly && !parent.wrapOpen) OpenWrap(parent);
        LinkList(links, parent.phrasing || parent.inLink);
    }

    void FrameLink(const PageNode& element, Frame& parent) {
        const char* src = AttributeValue(element, "src");
        if (src == nullptr || parent.inLink) return;
        const auto link = Resolve(src, LinkUse::Hyperlink);
        if (!link || link->target == nullptr) return;
        if (parent.wrapTag != kContentOnly && !parent.wrapOpen) OpenWrap(parent);
        const char* title = AttributeValue(element, "title");
        LinkList({{title ? title : link->target->stored, *link}}, true);
    }

    void Area(const PageNode& element, Frame& parent) {
        const char* href = AttributeValue(element, "href");
        if (href == nullptr || parent.inLink) return;
        const auto link = Resolve(href, LinkUse::Hyperlink);
        if (!link) return;
        if (parent.wrapTag != kContentOnly && !parent.wrapOpen) OpenWrap(parent);
        const char* alt = AttributeValue(element, "alt");
        std::string text = alt && !IsWhitespace(alt) ? alt : (link->target ? link->target->stored : link->web);
        *out_ += "<a";
        Href(*link);
        *out_ += ">";
        AppendXmlText(*out_, text);
        *out_ += "</a> ";
    }

    // A page of frames: a list of the pages it shows.
    void Frames(const PageNode* frameset) {
        std::vector<std::pair<std::string, BookLink>> links;
        std::vector<const PageNode*> pending{frameset};
        while (!pending.empty()) {
            const PageNode* node = pending.back();
            pending.pop_back();
            if (!IsElement(node)) continue;
            if (TagOf(*node) == GUMBO_TAG_FRAME) {
                const char* src = AttributeValue(*node, "src");
                const char* name = AttributeValue(*node, "name");
                if (src != nullptr)
                    if (const auto link = Resolve(src, LinkUse::Hyperlink))
                        if (link->target != nullptr) links.emplace_back(name ? name : "", *link);
                continue;
            }
            for (const PageNode* child = Children(node).Last(); child != nullptr; child = child->prev) pending.push_back(child);
        }
        LinkList(links, false);
    }

    const PageInput& input_;
    LinkMemo* memo_;  // may be null
    std::optional<TableLook> cellLook_;  // what cellCss_ is made for
    std::string cellCss_;
    const std::string& from_;
    std::string* out_ = nullptr;
    std::string title_;
    std::string styles_;
    std::vector<std::string> sheets_;
    std::unordered_map<const PageNode*, std::string> ids_;
    std::unordered_set<std::string> known_;
    std::unordered_set<std::string> emitted_;
    std::vector<PageDraft::Fragment> fragments_;
    std::vector<PageDraft::Link> links_;
};

// A page the parser gave up on: its text without the tags, as one block.
PageDraft PlainTextPage(std::string_view utf8, const PageInput& input) {
    std::string text;
    bool inTag = false;
    for (const char c : utf8) {
        if (c == '<') inTag = true;
        else if (c == '>') inTag = false;
        else if (!inTag) text += c;
    }
    PageDraft draft;
    draft.head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE html>\n"
                 "<html xmlns=\"http://www.w3.org/1999/xhtml\">\n<head>\n<meta charset=\"utf-8\"/>\n<title>";
    AppendXmlText(draft.head, input.page->stored);
    draft.head += "</title>\n</head>\n<body>\n";
    draft.body = "<pre>";
    AppendXmlText(draft.body, text);
    draft.body += "</pre>";
    return draft;
}

}  // namespace

namespace {

struct ChosenCharset {
    std::string name;
    bool checkedUtf8 = false;  // the bytes were found to be valid UTF-8
};

ChosenCharset ChooseCharset(std::string_view bytes, const std::string& fallback) {
    if (bytes.starts_with("\xEF\xBB\xBF")) return {"UTF-8"};
    if (bytes.starts_with("\xFF\xFE")) return {"UTF-16LE"};
    if (bytes.starts_with("\xFE\xFF")) return {"UTF-16BE"};
    const std::string label = DeclaredLabel(bytes);
    if (!label.empty()) {
        std::string name = IconvNameOf(label);
        if (name == "UTF-8" || (!name.empty() && site::Utf8Decoder(name).Known())) return {std::move(name)};
    }
    if (site::IsAscii(bytes) || site::IsUtf8(bytes)) return {"UTF-8", true};
    return {fallback.empty() ? std::string("CP1252") : fallback};
}

}  // namespace

std::string PageCharsetOf(std::string_view bytes, const std::string& fallback) {
    return ChooseCharset(bytes, fallback).name;
}

PageDraft DraftPage(const PageInput& input, DraftingTools& tools) {
    const ChosenCharset charset = ChooseCharset(input.bytes, input.charset.iconvName);
    // The page as UTF-8: its own bytes where they are, else a decoded copy.
    std::string_view utf8 = input.bytes;
    std::string decoded;
    if (charset.name == "UTF-8") {
        if (utf8.starts_with("\xEF\xBB\xBF")) utf8.remove_prefix(3);
        if (!charset.checkedUtf8 && !site::IsUtf8(utf8)) utf8 = decoded = site::DecodeToUtf8(utf8, "UTF-8");
    } else {
        if (charset.name.starts_with("UTF-16")) utf8.remove_prefix(2);
        utf8 = decoded = site::DecodeToUtf8(utf8, charset.name);
    }
    // The parser's tree takes many times a page's size: a page beyond the
    // limit is kept as its text.
    if (utf8.size() > kParsedPageLimit) return PlainTextPage(utf8, input);
    const std::unique_ptr<PageTree> tree = tools.parser.Parse(utf8);
    if (!tree) return PlainTextPage(utf8, input);
    std::string().swap(decoded);  // the tree holds the text
    return PageWriter(input, &tools.links).Draft(tree->Root());
}

std::string FinishPage(PageDraft draft, const PageInput& input, std::vector<std::string>* ids) {
    std::vector<site::TextEdit> edits;
    // In the order they stand: the pages they lead into learn of the ids wanted in that order.
    for (PageDraft::Link& link : draft.links)
        if (input.keepFragment && !input.keepFragment(*link.target, link.id))
            edits.push_back({link.offset, link.length, std::move(link.plain)});
    std::string anchors;
    for (const std::string& id : input.anchors)
        if (draft.ids.insert(id).second) anchors += "<span id=\"" + XmlText(id, true) + "\"></span>";
    // Fragments of this page that name no id written become links to the page.
    for (const PageDraft::Fragment& fragment : draft.fragments)
        if (!draft.ids.count(fragment.id)) edits.push_back({fragment.offset, fragment.length, draft.self});
    std::string page = std::move(draft.head);
    page += anchors;
    page += edits.empty() ? draft.body : site::ApplyEdits(draft.body, std::move(edits));
    page += "\n</body>\n</html>\n";
    if (ids != nullptr) *ids = {draft.ids.begin(), draft.ids.end()};
    return page;
}

std::string XhtmlPage(const PageInput& input, std::vector<std::string>* ids) {
    DraftingTools tools;
    return FinishPage(DraftPage(input, tools), input, ids);
}

}  // namespace vexmor::epub
