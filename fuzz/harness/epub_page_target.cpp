#include <libxml/parser.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/uChmExtractor.h"
#include "epub/book_links.h"
#include "epub/book_names.h"
#include "epub/xhtml_page.h"
#include "fuzz/harness/fuzz_targets.h"
#include "site/site_names.h"

namespace vexmor::fuzz {

namespace {

// The streams of the book the page's links lead to: names under several
// cases, with a space, a '?' and Chinese, pages, sheets, images and what the
// book leaves out.
constexpr std::pair<const char*, const char*> kStreams[] = {
    {"", "index.htm"},       {"", "Default.HTM"},     {"", "what?.htm"},      {"", "#SYSTEM"},
    {"html", "Topic.htm"},   {"html", "topic.HTM"},   {"html", "Page One.htm"}, {"html", "\xE9\xA1\xB5.htm"},
    {"html", "x.css"},       {"html/sub", "Deep.htm"}, {"images", "Logo.GIF"}, {"images", "a.bmp"},
    {"", "notes.txt"},
};

struct Book {
    TChmItems items;
    std::vector<std::size_t> order;
    std::unique_ptr<epub::BookNames> names;
    std::unique_ptr<site::SiteNames> siteNames;
    std::unique_ptr<epub::BookLinks> links;
};

const Book& TheBook() {
    static const Book* const book = [] {
        auto* made = new Book;
        for (const auto& [path, name] : kStreams) {
            TChmItem& item = made->items.Add();
            item.Path = path;
            item.Name = name;
            made->order.push_back(made->order.size());
        }
        made->names = std::make_unique<epub::BookNames>(made->items, made->order);
        made->siteNames = std::make_unique<site::SiteNames>(made->items);
        made->links = std::make_unique<epub::BookLinks>(*made->names, *made->siteNames, "test.chm");
        return made;
    }();
    return *book;
}

[[noreturn]] void Broken(const std::string& what, const std::string& page) {
    std::fprintf(stderr, "epub page: %s\n%.4000s\n", what.c_str(), page.c_str());
    std::abort();
}

constexpr const char* kCharsets[] = {"", "GBK", "CP1251", "UTF-8"};

std::string Folded(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// Whether a link runs a script: its scheme, read as a browser reads it
// (leading blanks and controls skipped, tabs and line breaks dropped, any
// case), is javascript: or vbscript:. "ftp:javascript:x" is an ftp link.
bool IsScriptLink(std::string_view link) {
    std::string scheme;
    std::size_t at = 0;
    while (at < link.size() && static_cast<unsigned char>(link[at]) <= 0x20) ++at;
    for (; at < link.size() && scheme.size() < 16; ++at) {
        const char c = link[at];
        if (c == '\t' || c == '\n' || c == '\r') continue;
        scheme += c;
        if (c == ':') break;
    }
    scheme = Folded(scheme);
    return scheme == "javascript:" || scheme == "vbscript:";
}

// A style sheet follows links only inside url(...); a quoted font name may
// say "javascript:" as harmless text. Every other attribute is taken as a
// link.
bool HoldsScriptLink(const std::string& attributeName, std::string_view value) {
    if (attributeName != "style") return IsScriptLink(value);
    const std::string text = Folded(value);
    for (std::size_t at = text.find("url("); at != std::string::npos; at = text.find("url(", at + 4)) {
        std::string_view argument = std::string_view(text).substr(at + 4);
        while (!argument.empty() && (static_cast<unsigned char>(argument.front()) <= 0x20 ||
                                     argument.front() == '"' || argument.front() == '\''))
            argument.remove_prefix(1);
        if (IsScriptLink(argument)) return true;
    }
    return false;
}

}  // namespace

void RunEpubPage(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return;
    const Book& book = TheBook();
    epub::PageInput input;
    input.bytes = std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1);
    const bool deep = (data[0] & 4) != 0;
    input.page = book.names->Find(deep ? "html/sub/Deep.htm" : "html/Topic.htm");
    input.links = book.links.get();
    input.charset.iconvName = kCharsets[data[0] & 3];
    input.language = (data[0] & 8) != 0 ? "zh-CN" : "";
    std::vector<std::string> ids;
    const std::string page = epub::XhtmlPage(input, &ids);

    // Whatever the page was, the book's page is XML, holds no script, and
    // every id it names is one of its own.
    const std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)> document(
        xmlReadMemory(page.data(), static_cast<int>(page.size()), "page.xhtml", nullptr,
                      XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_HUGE),
        xmlFreeDoc);
    if (!document) Broken("not well-formed XML", page);
    // Looked for in the elements and attributes, not in the text: a page may
    // well speak of "<script>" or "javascript:".
    std::vector<const xmlNode*> pending{xmlDocGetRootElement(document.get())};
    while (!pending.empty()) {
        const xmlNode* node = pending.back();
        pending.pop_back();
        if (node == nullptr) continue;
        if (node->type == XML_ELEMENT_NODE) {
            const std::string name = reinterpret_cast<const char*>(node->name);
            for (const char* banned : {"script", "object", "embed", "iframe", "applet", "form", "input"})
                if (name == banned) Broken("holds the element " + name, page);
            for (const xmlAttr* attribute = node->properties; attribute != nullptr; attribute = attribute->next) {
                const std::string attributeName = reinterpret_cast<const char*>(attribute->name);
                if (attributeName.starts_with("on")) Broken("holds the attribute " + attributeName, page);
                const xmlNode* value = attribute->children;
                if (value != nullptr && value->content != nullptr &&
                    HoldsScriptLink(attributeName, reinterpret_cast<const char*>(value->content)))
                    Broken("holds a script link", page);
            }
        }
        for (const xmlNode* child = node->children; child != nullptr; child = child->next) pending.push_back(child);
    }
    for (const std::string& id : ids)
        if (page.find(" id=\"" + id + "\"") == std::string::npos) Broken("an id it does not hold: " + id, page);
}

}  // namespace vexmor::fuzz
