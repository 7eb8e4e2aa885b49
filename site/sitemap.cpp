#include "site/sitemap.h"

#include <libxml/HTMLparser.h>
#include <libxml/parser.h>

#include <algorithm>

#include "site/page_rewrite.h"
#include "site/site_names.h"
#include "site/utf8_decoder.h"

namespace vexmor::site {

namespace {

// The declaration is looked for in this many first bytes.
constexpr std::size_t kHeadBytes = 4096;

std::string_view Text(const xmlChar* text) {
    return text ? std::string_view(reinterpret_cast<const char*>(text)) : std::string_view();
}

// The value of attribute `name` in libxml2's list of name/value pairs.
std::string_view Attribute(const xmlChar** attributes, std::string_view name) {
    if (attributes == nullptr) return {};
    for (std::size_t i = 0; attributes[i] != nullptr; i += 2)
        if (FoldCase(Text(attributes[i])) == name) return Text(attributes[i + 1]);
    return {};
}

}  // namespace

struct SitemapReader::Events {
    explicit Events(const std::string& charset) : decoder(charset) {}

    Utf8Decoder decoder;
    htmlParserCtxtPtr parser = nullptr;
    Sitemap sitemap;
    std::size_t depth = 0;  // <UL> levels open
    bool inEntry = false;
    SitemapEntry entry;
    std::string pendingTitle;
    std::size_t textBytes = 0;
    std::size_t fed = 0;             // UTF-8 bytes handed to the parser
    std::size_t fedAtLastEvent = 0;  // ... when it last reported an element

    void Keep(std::string_view text, std::string& into) {
        if (sitemap.truncated) return;
        textBytes += text.size();
        into = text;
    }

    void Start(std::string_view name, const xmlChar** attributes) {
        fedAtLastEvent = fed;
        if (sitemap.truncated) return;
        if (name == "ul" || name == "ol") {
            ++depth;
        } else if (name == "object") {
            inEntry = FoldCase(Attribute(attributes, "type")) == "text/sitemap";
            entry = SitemapEntry{};
            pendingTitle.clear();
        } else if (name == "param" && inEntry) {
            const std::string kind = FoldCase(Attribute(attributes, "name"));
            const std::string_view value = Attribute(attributes, "value");
            if (kind == "name") {
                if (entry.name.empty()) Keep(value, entry.name);
                else Keep(value, pendingTitle);
            } else if (kind == "local" || (kind == "url" && entry.targets.empty())) {
                SitemapTarget target;
                Keep(pendingTitle, target.title);
                Keep(value, target.local);
                entry.targets.push_back(std::move(target));
                pendingTitle.clear();
            } else if (kind == "see also") {
                Keep(value, entry.seeAlso);
            }
        }
    }

    void End(std::string_view name) {
        fedAtLastEvent = fed;
        if (sitemap.truncated) return;
        if (name == "ul" || name == "ol") {
            if (depth > 0) --depth;
        } else if (name == "object" && inEntry) {
            inEntry = false;
            if (entry.name.empty() && entry.targets.empty()) return;
            entry.depth = std::min(depth == 0 ? 0 : depth - 1, kSitemapDepthLimit);
            sitemap.entries.push_back(std::move(entry));
            entry = SitemapEntry{};
            if (sitemap.entries.size() >= kSitemapEntryLimit || textBytes >= kSitemapTextLimit) {
                sitemap.truncated = true;
                xmlStopParser(parser);
            }
        }
    }
};

namespace {

void OnStart(void* context, const xmlChar* name, const xmlChar** attributes) {
    static_cast<SitemapReader::Events*>(context)->Start(Text(name), attributes);
}

void OnEnd(void* context, const xmlChar* name) { static_cast<SitemapReader::Events*>(context)->End(Text(name)); }

// Errors of the markup are many in real files and all recovered from.
void Quiet(void*, const char*, ...) {}

}  // namespace

SitemapReader::SitemapReader(std::string fallbackCharset) : fallbackCharset_(std::move(fallbackCharset)) {}

SitemapReader::~SitemapReader() {
    if (events_ && events_->parser) {
        xmlFreeDoc(events_->parser->myDoc);
        htmlFreeParserCtxt(events_->parser);
    }
}

void SitemapReader::Feed(std::string_view bytes) {
    if (!started_) {
        head_.append(bytes);
        if (head_.size() < kHeadBytes) return;
        Start(head_);
        head_.clear();
        return;
    }
    std::string utf8;
    events_->decoder.Feed(bytes, utf8);
    Parse(utf8, false);
}

void SitemapReader::Start(std::string_view head) {
    started_ = true;
    std::string charset = DeclaredCharsetOf(head.substr(0, std::min(head.size(), kHeadBytes)));
    if (charset.empty() || !Utf8Decoder(charset).Known()) charset = fallbackCharset_;
    events_ = std::make_unique<Events>(charset);
    htmlSAXHandler handler{};
    handler.startElement = OnStart;
    handler.endElement = OnEnd;
    handler.warning = Quiet;
    handler.error = Quiet;
    events_->parser = htmlCreatePushParserCtxt(&handler, events_.get(), nullptr, 0, nullptr, XML_CHAR_ENCODING_UTF8);
    if (events_->parser == nullptr) throw std::bad_alloc();
    // The text reaches the parser as UTF-8 already: a <meta> must not switch it.
    htmlCtxtUseOptions(events_->parser, HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING |
                                            HTML_PARSE_NONET | HTML_PARSE_IGNORE_ENC | HTML_PARSE_NOBLANKS);
    // libxml2's push parser drops a file whose first tag is an end tag
    // ("</UL><UL>..."); a start tag of its own first keeps it reading.
    std::string utf8 = "<html>";
    events_->decoder.Feed(head, utf8);
    Parse(utf8, false);
}

void SitemapReader::Parse(std::string_view utf8, bool last) {
    if (events_->sitemap.truncated) return;
    // Pieces of at most 64 KiB: the parser takes an int.
    constexpr std::size_t kPiece = 1u << 16;
    do {
        const std::size_t count = std::min(utf8.size(), kPiece);
        const bool end = last && count == utf8.size();
        events_->fed += count;
        // libxml2 (2.9) keeps where it last looked for the end of a tag from
        // one piece to the next, but not whether that place was inside a
        // quoted value: a piece that ends inside a value could leave it
        // looking for the end forever, and every entry after it was lost
        // (lcl.chm's index: 562 of 46 078 entries read). It looks again from
        // the start of what it holds instead.
        events_->parser->checkIndex = 0;
        htmlParseChunk(events_->parser, utf8.data(), static_cast<int>(count), end ? 1 : 0);
        utf8.remove_prefix(count);
        if (events_->sitemap.truncated) return;
        if (events_->fed - events_->fedAtLastEvent > kSitemapQuietLimit) {
            events_->sitemap.truncated = true;
            return;
        }
    } while (!utf8.empty());
}

Sitemap SitemapReader::Finish() {
    if (!started_) Start(head_);
    std::string utf8;
    events_->decoder.Finish(utf8);
    Parse(utf8, true);
    return std::move(events_->sitemap);
}

Sitemap ReadSitemap(std::string_view bytes, const std::string& fallbackCharset) {
    SitemapReader reader(fallbackCharset);
    reader.Feed(bytes);
    return reader.Finish();
}

}  // namespace vexmor::site
