// A help page parsed by libxml2's HTML parser, its tables put in the shape
// XHTML wants (rows in row groups, cells in rows, what else stood in a table
// moved before it, as browsers do), and each element's tag known by the
// names gumbo has for them.
#pragma once

#include <gumbo.h>
#include <libxml/tree.h>

#include <memory>
#include <string_view>

namespace vexmor::epub {

class PageTree {
public:
    // nullptr when libxml2 made no document of `utf8`, or gave up part-way.
    static std::unique_ptr<PageTree> Parse(std::string_view utf8);
    ~PageTree();
    PageTree(const PageTree&) = delete;
    PageTree& operator=(const PageTree&) = delete;

    // The html element, or nullptr.
    const xmlNode* Root() const;

private:
    friend class PageParser;
    explicit PageTree(xmlDoc* document) : document_(document) {}
    xmlDoc* document_;
};

// libxml2's parser, kept for the pages of one thread: it is made once, not
// for each page, and keeps the element names it has read in its dictionary
// (a malloc less for each element). Not for several threads at once.
class PageParser {
public:
    PageParser();
    ~PageParser();
    PageParser(const PageParser&) = delete;
    PageParser& operator=(const PageParser&) = delete;

    // As PageTree::Parse.
    std::unique_ptr<PageTree> Parse(std::string_view utf8);

private:
    struct ParserDeleter {
        void operator()(xmlParserCtxt* parser) const;
    };
    std::unique_ptr<xmlParserCtxt, ParserDeleter> parser_;
    unsigned pages_ = 0;  // parsed with parser_
};

inline bool IsElement(const xmlNode* node) { return node->type == XML_ELEMENT_NODE; }
inline bool IsText(const xmlNode* node) { return node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE; }
inline const char* TextOf(const xmlNode* node) {
    return node->content == nullptr ? "" : reinterpret_cast<const char*>(node->content);
}

// An element's tag; GUMBO_TAG_UNKNOWN for names HTML lacks and for table
// parts outside a table, which stand for their content only.
inline GumboTag TagOf(const xmlNode& element) { return static_cast<GumboTag>(element.extra); }

// An attribute's value (names are lower case), "" when it has none, nullptr
// when the element lacks it.
const char* AttributeOf(const xmlNode& element, const char* name);

}  // namespace vexmor::epub
