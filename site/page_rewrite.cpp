#include "site/page_rewrite.h"

#include <gumbo.h>

#include <array>
#include <cctype>
#include <cstring>
#include <memory>
#include <vector>

#include "site/css_links.h"
#include "site/html_tree.h"
#include "site/text_edits.h"
#include "site/utf8_decoder.h"

namespace vexmor::site {

namespace {

// Attributes that hold a link, whatever the element.
constexpr std::array<std::string_view, 8> kLinkAttributes{"href", "src",  "background", "lowsrc",
                                                         "dynsrc", "data", "longdesc", "poster"};

bool IsLinkAttribute(std::string_view name) {
    for (const std::string_view candidate : kLinkAttributes)
        if (candidate == name) return true;
    return false;
}

std::string EscapeAttribute(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c == '&') out += "&amp;";
        else if (c == '"') out += "&quot;";
        else if (c == '<') out += "&lt;";
        else out += c;
    }
    return out;
}

// The span of `piece` in `page`, when it lies inside it.
bool SpanIn(std::string_view page, const GumboStringPiece& piece, std::size_t& offset) {
    if (piece.data == nullptr || piece.length == 0) return false;
    if (piece.data < page.data() || piece.data > page.data() + page.size()) return false;
    offset = static_cast<std::size_t>(piece.data - page.data());
    return piece.length <= page.size() - offset;
}

// The value of an attribute written in a code page: decoded, then its
// character references resolved by the parser, as a browser would.
std::string DecodedValue(std::string_view raw, const std::string& charset) {
    const std::string text = "<a href=" + DecodeToUtf8(raw, charset) + ">";
    const std::unique_ptr<HtmlTree> tree = HtmlTree::Parse(text);
    if (!tree) return {};
    std::vector<const GumboNode*> pending{tree->Root()};
    while (!pending.empty()) {
        const GumboNode* node = pending.back();
        pending.pop_back();
        if (node->type != GUMBO_NODE_ELEMENT) continue;
        if (node->v.element.tag == GUMBO_TAG_A) {
            if (const GumboAttribute* href = gumbo_get_attribute(&node->v.element.attributes, "href"))
                return href->value;
            return {};
        }
        for (unsigned i = 0; i < node->v.element.children.length; ++i)
            pending.push_back(static_cast<const GumboNode*>(node->v.element.children.data[i]));
    }
    return {};
}

bool IsHtmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

// The span of an attribute's value as written, quotes included. Taken from
// the '=' after its name: gumbo's own start of an unquoted value lies after
// a character reference that opens it.
bool ValueSpan(std::string_view page, const GumboAttribute& attribute, std::size_t& offset, std::size_t& length) {
    std::size_t nameAt = 0, valueAt = 0;
    if (!SpanIn(page, attribute.original_name, nameAt) || !SpanIn(page, attribute.original_value, valueAt))
        return false;
    const std::size_t end = valueAt + attribute.original_value.length;
    std::size_t at = nameAt + attribute.original_name.length;
    while (at < end && IsHtmlSpace(page[at])) ++at;
    if (at >= end || page[at] != '=') return false;
    ++at;
    while (at < end && IsHtmlSpace(page[at])) ++at;
    if (at > valueAt) return false;
    offset = at;
    length = end - at;
    return length > 0;
}

// `raw` with each '\' as '/', every other byte kept.
std::string WithSlashes(std::string_view raw) {
    std::string out(raw);
    for (char& c : out)
        if (c == '\\') c = '/';
    return out;
}

std::string_view Unquoted(std::string_view raw) {
    if (raw.size() >= 2 && (raw.front() == '"' || raw.front() == '\'') && raw.back() == raw.front())
        return raw.substr(1, raw.size() - 2);
    return raw;
}

// The charset a <meta> element declares, or empty.
std::string DeclaredCharset(const GumboElement& meta) {
    if (const GumboAttribute* charset = gumbo_get_attribute(&meta.attributes, "charset")) return charset->value;
    const GumboAttribute* equiv = gumbo_get_attribute(&meta.attributes, "http-equiv");
    const GumboAttribute* content = gumbo_get_attribute(&meta.attributes, "content");
    if (equiv == nullptr || content == nullptr || FoldCase(equiv->value) != "content-type") return {};
    const std::string text = FoldCase(content->value);
    const std::size_t at = text.find("charset=");
    if (at == std::string::npos) return {};
    std::string name = text.substr(at + 8);
    if (!name.empty() && (name.front() == '"' || name.front() == '\'')) name.erase(0, 1);
    const std::size_t end = name.find_first_of(" ;\"'\t");
    return end == std::string::npos ? name : name.substr(0, end);
}

bool StartsWithByteOrderMark(std::string_view page) {
    return page.starts_with("\xEF\xBB\xBF") || page.starts_with("\xFE\xFF") || page.starts_with("\xFF\xFE");
}

class PageWalk {
public:
    PageWalk(std::string_view page, const LinkContext& context) : page_(page), context_(context) {}

    void Walk(const GumboNode* root) {
        std::vector<const GumboNode*> pending{root};
        while (!pending.empty()) {
            const GumboNode* node = pending.back();
            pending.pop_back();
            const GumboVector* children = nullptr;
            if (node->type == GUMBO_NODE_DOCUMENT) {
                children = &node->v.document.children;
            } else if (node->type == GUMBO_NODE_ELEMENT || node->type == GUMBO_NODE_TEMPLATE) {
                Element(node);
                children = &node->v.element.children;
            }
            if (children == nullptr) continue;
            for (unsigned i = children->length; i-- > 0;)
                pending.push_back(static_cast<const GumboNode*>(children->data[i]));
        }
    }

    // Where a <meta charset> goes: after <head>, else after <html>, else
    // before the first tag of the page, else at its start.
    std::size_t DeclarationPlace() const {
        if (headEnd_) return *headEnd_;
        if (htmlEnd_) return *htmlEnd_;
        if (firstTag_) return *firstTag_;
        return 0;
    }

    std::vector<TextEdit> linkEdits;
    std::string declared;  // the first charset a <meta> declares
    std::string charsetForValues;

private:
    void Element(const GumboNode* node) {
        const GumboElement& element = node->v.element;
        std::size_t tagAt = 0;
        if (SpanIn(page_, element.original_tag, tagAt)) {
            if (!firstTag_) firstTag_ = tagAt;
            const std::size_t end = tagAt + element.original_tag.length;
            if (element.tag == GUMBO_TAG_HEAD && !headEnd_) headEnd_ = end;
            if (element.tag == GUMBO_TAG_HTML && !htmlEnd_) htmlEnd_ = end;
        }
        if (element.tag == GUMBO_TAG_META && declared.empty()) declared = DeclaredCharset(element);
        if (element.tag == GUMBO_TAG_STYLE) styles_.push_back(node);
        for (unsigned i = 0; i < element.attributes.length; ++i) {
            const auto* attribute = static_cast<const GumboAttribute*>(element.attributes.data[i]);
            const std::string_view name = attribute->name;
            // `data` is a link on <object> only; elsewhere it is the page's own.
            const bool link = name == "data" ? element.tag == GUMBO_TAG_OBJECT : IsLinkAttribute(name);
            if (link) LinkValue(*attribute);
            else if (name == "style") StyleValue(*attribute);
        }
    }

    void LinkValue(const GumboAttribute& attribute) {
        std::size_t offset = 0, length = 0;
        if (!ValueSpan(page_, attribute, offset, length)) return;
        const std::string_view raw = page_.substr(offset, length);
        const bool ascii = IsAscii(raw);
        const LinkTarget target =
            ResolveLink(ascii ? std::string(attribute.value) : DecodedValue(raw, charsetForValues), context_);
        if (!target.changed) return;
        const bool resolved = target.kind == LinkTarget::Kind::InFile || target.kind == LinkTarget::Kind::OtherFile;
        // Only ASCII is put back unresolved: a '\' may be half of a
        // character in a double-byte code page.
        if (!resolved && !ascii) return;
        // Unresolved, only its '\' change: its own bytes stay, references and all.
        linkEdits.push_back({offset, raw.size(),
                             resolved ? "\"" + EscapeAttribute(target.href) + "\"" : WithSlashes(raw)});
    }

    void StyleValue(const GumboAttribute& attribute) {
        std::size_t offset = 0, length = 0;
        if (!ValueSpan(page_, attribute, offset, length)) return;
        const std::string_view raw = page_.substr(offset, length);
        const std::string_view inner = Unquoted(raw);
        CollectCssEdits(inner, offset + static_cast<std::size_t>(inner.data() - raw.data()), context_,
                        charsetForValues, linkEdits);
    }

public:
    // The style elements' text, once the charset for values is known.
    void Styles() {
        for (const GumboNode* style : styles_) {
            const GumboVector& children = style->v.element.children;
            for (unsigned i = 0; i < children.length; ++i) {
                const auto* text = static_cast<const GumboNode*>(children.data[i]);
                if (text->type != GUMBO_NODE_TEXT && text->type != GUMBO_NODE_CDATA) continue;
                std::size_t offset = 0;
                if (!SpanIn(page_, text->v.text.original_text, offset)) continue;
                CollectCssEdits(page_.substr(offset, text->v.text.original_text.length), offset, context_,
                                charsetForValues, linkEdits);
            }
        }
    }

private:
    std::string_view page_;
    const LinkContext& context_;
    std::optional<std::size_t> headEnd_, htmlEnd_, firstTag_;
    std::vector<const GumboNode*> styles_;
};

}  // namespace

std::string RewritePage(std::string_view page, const LinkContext& context, const PageCharset& charset) {
    if (page.size() > kPageRewriteLimit) return std::string(page);
    const std::unique_ptr<HtmlTree> tree = HtmlTree::Parse(page);
    if (!tree) return std::string(page);
    // The charset is needed to read the values, and only known after the
    // walk: values that are not ASCII are read once it is.
    PageWalk first(page, context);
    first.charsetForValues = charset.iconvName;
    first.Walk(tree->Document());
    const bool declared = !first.declared.empty() || StartsWithByteOrderMark(page);
    std::string label;
    std::string valuesCharset = first.declared.empty() ? charset.iconvName : first.declared;
    if (!declared) {
        // A page of valid UTF-8 beyond ASCII was written so by its author,
        // whatever the file's language says.
        label = !IsAscii(page) && IsUtf8(page) ? std::string("utf-8") : charset.webLabel;
        if (label == "utf-8") valuesCharset = "UTF-8";
    }
    std::vector<TextEdit> edits;
    if (valuesCharset == charset.iconvName || IsAscii(page)) {
        edits = std::move(first.linkEdits);
        first.Styles();
        edits.insert(edits.end(), first.linkEdits.begin(), first.linkEdits.end());
    } else {
        PageWalk again(page, context);
        again.charsetForValues = valuesCharset;
        again.Walk(tree->Document());
        again.Styles();
        edits = std::move(again.linkEdits);
    }
    if (!declared && !label.empty())
        edits.push_back({first.DeclarationPlace(), 0, "<meta charset=\"" + label + "\">"});
    if (edits.empty()) return std::string(page);
    return ApplyEdits(page, std::move(edits));
}

std::string DeclaredCharsetOf(std::string_view html) {
    const std::unique_ptr<HtmlTree> tree = HtmlTree::Parse(html);
    if (!tree) return {};
    // The walk keeps a reference to its context: it must outlive the walk.
    const LinkContext noLinks;
    PageWalk walk(html, noLinks);
    walk.Walk(tree->Document());
    return walk.declared;
}

namespace {

// Whether `word` holds "charset" in any case.
bool HoldsCharsetWord(std::string_view word) {
    for (std::size_t at = 0; at + 7 <= word.size(); ++at)
        if (MatchesFoldedAt(word, at, "charset")) return true;
    return false;
}

// What the quick look needs to know of a byte: whether it belongs to a word,
// and whether it is a '.' or beyond ASCII.
constexpr unsigned char kInWord = 1, kDotByte = 2, kHighByte = 4, kLetter = 8;
constexpr std::array<unsigned char, 256> kLookBytes = [] {
    std::array<unsigned char, 256> table{};
    for (unsigned byte = 0; byte < 256; ++byte) {
        if (!kWordBytes[byte]) continue;
        const bool letter = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z');
        table[byte] = kInWord | (byte == '.' ? kDotByte : 0) | (byte >= 0x80 ? kHighByte : 0) | (letter ? kLetter : 0);
    }
    return table;
}();

// The words a page has already shown to name no stream under another case:
// a page repeats the levels of its links ("lcl", "forms", ...) many times.
class SeenWords {
public:
    bool Holds(std::string_view word, bool folder) const {
        const std::string_view& slot = slots_[SlotOf(word, folder)];
        if (slot.size() != word.size()) return false;
        // Words are short: eight bytes at a time, inline.
        std::size_t at = 0;
        for (; at + 8 <= word.size(); at += 8) {
            std::uint64_t a, b;
            std::memcpy(&a, slot.data() + at, 8);
            std::memcpy(&b, word.data() + at, 8);
            if (a != b) return false;
        }
        for (; at < word.size(); ++at)
            if (slot[at] != word[at]) return false;
        return true;
    }
    void Add(std::string_view word, bool folder) { slots_[SlotOf(word, folder)] = word; }

private:
    static std::size_t SlotOf(std::string_view word, bool folder) {
        const auto first = static_cast<unsigned char>(word.front()), last = static_cast<unsigned char>(word.back());
        return (word.size() * 31 + first * 7 + last + (folder ? 13 : 0)) % kSlots;
    }
    static constexpr std::size_t kSlots = 64;
    // Views into the page; a folder word and a name word with the same
    // bytes go to different slots, or share one and replace each other.
    std::array<std::string_view, kSlots> slots_{};
};

}  // namespace

bool PageMayNeedRewrite(std::string_view page, const SiteNames& names) {
    const bool percent = !names.NamesAreWords();
    bool charsetWord = false;
    SeenWords seenWords;
    const auto* bytes = reinterpret_cast<const unsigned char*>(page.data());
    const std::size_t n = page.size();
    std::size_t i = 0;
    while (i < n) {
        if (kLookBytes[bytes[i]] == 0) {
            if (bytes[i] == '\\') return true;
            if (percent && bytes[i] == '%' && i + 2 < n && std::isxdigit(bytes[i + 1]) && std::isxdigit(bytes[i + 2]))
                return true;
            ++i;
            continue;
        }
        // A word.
        const std::size_t start = i;
        unsigned seen = 0;
        do {
            seen |= kLookBytes[bytes[i]];
            ++i;
        } while (i < n && kLookBytes[bytes[i]] != 0);
        if ((seen & kHighByte) != 0) return true;
        const std::string_view word = page.substr(start, i - start);
        // Only a word with a letter can be written under another case.
        if ((seen & kLetter) != 0) {
            const bool folder = i < n && bytes[i] == '/';
            const bool dotted = (seen & kDotByte) != 0;
            if (names.MayBeNamed(word, folder, dotted) && !seenWords.Holds(word, folder)) {
                if (folder ? names.IsCaseVariantOfFolder(word) : names.IsCaseVariantOfName(word, dotted)) return true;
                seenWords.Add(word, folder);
            }
        }
        if (i < n && bytes[i] == ':' && word.size() >= 2) {
            // "its:" (also the end of "ms-its:") and "mk:".
            const std::size_t end = word.size();
            if (((word[end - 2] | 0x20) == 'm' && (word[end - 1] | 0x20) == 'k') ||
                (end >= 3 && (word[end - 3] | 0x20) == 'i' && (word[end - 2] | 0x20) == 't' &&
                 (word[end - 1] | 0x20) == 's'))
                return true;
        }
        if (!charsetWord && word.size() >= 7) charsetWord = HoldsCharsetWord(word);
    }
    return !charsetWord;
}

}  // namespace vexmor::site
