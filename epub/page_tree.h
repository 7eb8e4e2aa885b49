// A help page parsed by libxml2's HTML parser into a tree of our own, its
// tables put in the shape XHTML wants (rows in row groups, cells in rows,
// what else stood in a table moved before it, as browsers do), and each
// element's tag known by the names gumbo has for them.
//
// The parser's events build the tree in an arena that goes with it: a page
// costs a few large allocations, not one or more per node and attribute.
#pragma once

#include <gumbo.h>
#include <libxml/parser.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vexmor::epub {

struct PageAttribute {
    const char* name;   // lower case, as the parser gives it
    const char* value;  // "" when written without one
    const PageAttribute* next;
};

struct PageNode {
    // Other: a comment or processing instruction. Only the boundary it
    // makes between two texts is kept.
    enum class Kind : unsigned char { Element, Text, Other };
    Kind kind = Kind::Other;
    GumboTag tag = GUMBO_TAG_UNKNOWN;  // elements
    PageNode* parent = nullptr;
    PageNode* children = nullptr;  // the first child
    PageNode* last = nullptr;      // the last child
    PageNode* next = nullptr;
    PageNode* prev = nullptr;
    std::string_view text;  // text nodes; followed by a NUL
    const PageAttribute* attributes = nullptr;
    // The writer's note of whether a block stands within: -1 not yet known.
    mutable signed char holdsBlocks = -1;
};

// Bump allocation in blocks. Reset lets everything go at once and keeps
// some ordinary blocks for the next page, so that pages do not take and
// give back memory from the heap one after another.
class PageArena {
public:
    PageArena() = default;
    PageArena(const PageArena&) = delete;
    PageArena& operator=(const PageArena&) = delete;

    void Reset();
    PageNode* NewNode(PageNode::Kind kind);
    // A copy followed by a NUL.
    std::string_view Copy(std::string_view text);
    PageAttribute* NewAttribute();

private:
    void* Allocate(std::size_t size, std::size_t alignment);

    std::vector<std::unique_ptr<std::byte[]>> blocks_;  // ordinary ones, of kArenaBlock bytes
    std::vector<std::unique_ptr<std::byte[]>> large_;   // one request each
    std::size_t used_ = 0;       // of blocks_; free_ is in blocks_[used_ - 1]
    std::byte* free_ = nullptr;
    std::size_t left_ = 0;       // bytes at free_
};

// A parsed page: valid until its parser parses the next one.
class PageTree {
public:
    PageTree(const PageTree&) = delete;
    PageTree& operator=(const PageTree&) = delete;

    // The html element, or nullptr.
    const PageNode* Root() const;

private:
    friend class PageParser;
    friend class TreeBuilder;
    explicit PageTree(PageArena& arena);
    PageArena& arena_;
    PageNode* document_;  // holds the top-level nodes
};

// libxml2's parser, kept for the pages of one thread: it is made once, not
// for each page, and keeps the element names it has read in its dictionary.
// Not for several threads at once.
class PageParser {
public:
    PageParser();
    ~PageParser();
    PageParser(const PageParser&) = delete;
    PageParser& operator=(const PageParser&) = delete;

    // nullptr when libxml2 made no document of `utf8`, or gave up part-way.
    std::unique_ptr<PageTree> Parse(std::string_view utf8);

private:
    struct ParserDeleter {
        void operator()(xmlParserCtxt* parser) const;
    };
    // The tags of the names in parser_'s dictionary, by address: each
    // name is stored there once, and looked up here without hashing it.
    struct KnownTag {
        const char* name = nullptr;
        char spelling[24] = {};
        GumboTag tag = GUMBO_TAG_UNKNOWN;
    };
    GumboTag TagOfName(const char* name);

    std::unique_ptr<xmlParserCtxt, ParserDeleter> parser_;
    PageArena arena_;  // of the last tree
    std::string text_;  // text read and not yet in the tree
    unsigned pages_ = 0;  // parsed with parser_
    std::vector<KnownTag> knownTags_;
    std::size_t knownCount_ = 0;
    friend class TreeBuilder;
};

inline bool IsElement(const PageNode* node) { return node->kind == PageNode::Kind::Element; }
inline bool IsText(const PageNode* node) { return node->kind == PageNode::Kind::Text; }
inline std::string_view TextOf(const PageNode* node) { return node->text; }

// An element's tag; GUMBO_TAG_UNKNOWN for names HTML lacks and for table
// parts outside a table, which stand for their content only.
inline GumboTag TagOf(const PageNode& element) { return element.tag; }

// An attribute's value (names are lower case), "" when it has none, nullptr
// when the element lacks it.
const char* AttributeOf(const PageNode& element, const char* name);

}  // namespace vexmor::epub
