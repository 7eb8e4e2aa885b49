#include "epub/page_tree.h"

#include <libxml/HTMLparser.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>

#include <climits>
#include <cstring>
#include <new>
#include <vector>

namespace vexmor::epub {

namespace {

void SetTag(xmlNode& element, GumboTag tag) { element.extra = static_cast<unsigned short>(tag); }

// Links without libxml2's own calls, which join neighbouring text nodes and
// free one of them.
void Unlink(xmlNode* node) { xmlUnlinkNode(node); }

void InsertBefore(xmlNode* before, xmlNode* node) {
    Unlink(node);
    node->parent = before->parent;
    node->prev = before->prev;
    node->next = before;
    if (before->prev != nullptr) before->prev->next = node;
    else if (before->parent != nullptr) before->parent->children = node;
    before->prev = node;
}

void Append(xmlNode* parent, xmlNode* node) {
    Unlink(node);
    node->parent = parent;
    node->prev = parent->last;
    node->next = nullptr;
    if (parent->last != nullptr) parent->last->next = node;
    else parent->children = node;
    parent->last = node;
}

xmlNode* NewElementBefore(xmlNode* before, const char* name, GumboTag tag) {
    xmlNode* element = xmlNewDocNode(before->doc, nullptr, reinterpret_cast<const xmlChar*>(name), nullptr);
    if (element == nullptr) throw std::bad_alloc();
    SetTag(*element, tag);
    InsertBefore(before, element);
    return element;
}

bool IsWhitespace(const char* text) {
    for (; *text != '\0'; ++text)
        if (*text != ' ' && *text != '\t' && *text != '\n' && *text != '\r' && *text != '\f') return false;
    return true;
}

bool IsRowGroup(GumboTag tag) { return tag == GUMBO_TAG_TBODY || tag == GUMBO_TAG_THEAD || tag == GUMBO_TAG_TFOOT; }
bool IsCell(GumboTag tag) { return tag == GUMBO_TAG_TD || tag == GUMBO_TAG_TH; }
bool IsTablePart(GumboTag tag) {
    return IsRowGroup(tag) || IsCell(tag) || tag == GUMBO_TAG_TR || tag == GUMBO_TAG_CAPTION;
}

// Left where they stand in a table: the writer leaves them out.
bool StaysInTable(GumboTag tag) {
    return tag == GUMBO_TAG_COL || tag == GUMBO_TAG_COLGROUP || tag == GUMBO_TAG_SCRIPT || tag == GUMBO_TAG_STYLE ||
           tag == GUMBO_TAG_INPUT || tag == GUMBO_TAG_TEMPLATE;
}

// An element (a form, a font) around rows or cells: its content takes its place.
bool HoldsTableParts(const xmlNode& element) {
    for (const xmlNode* child = element.children; child != nullptr; child = child->next)
        if (IsElement(child) && IsTablePart(TagOf(*child))) return true;
    return false;
}

// The content of `holder` in its place, the holder gone; returns what
// follows in its place.
xmlNode* Unwrap(xmlNode* holder) {
    xmlNode* first = holder->children != nullptr ? holder->children : holder->next;
    while (holder->children != nullptr) InsertBefore(holder, holder->children);
    Unlink(holder);
    xmlFreeNode(holder);
    return first;
}

class TableShaper {
public:
    explicit TableShaper(xmlNode* table) : table_(table) {}

    void Shape() {
        xmlNode* rowGroup = nullptr;  // made for rows that stand in the table itself
        xmlNode* row = nullptr;       // made for cells that stand in the table itself
        for (xmlNode* child = table_->children; child != nullptr;) {
            xmlNode* next = child->next;
            const Placed placed = Place(child, {GUMBO_TAG_TR, GUMBO_TAG_TBODY, GUMBO_TAG_THEAD, GUMBO_TAG_TFOOT, GUMBO_TAG_CAPTION});
            if (placed == Placed::Unwrapped) {
                next = resume_;  // the holder's content, where it stood
            } else if (placed == Placed::Kept) {
                const GumboTag tag = TagOf(*child);
                if (tag == GUMBO_TAG_TR) {
                    if (rowGroup == nullptr) rowGroup = NewElementBefore(child, "tbody", GUMBO_TAG_TBODY);
                    Append(rowGroup, child);
                    ShapeRow(child);
                    row = nullptr;
                } else if (IsRowGroup(tag)) {
                    ShapeRowGroup(child);
                    rowGroup = row = nullptr;
                } else if (tag == GUMBO_TAG_CAPTION) {
                    rowGroup = row = nullptr;
                }
            } else if (placed == Placed::Cell) {
                if (rowGroup == nullptr) rowGroup = NewElementBefore(child, "tbody", GUMBO_TAG_TBODY);
                if (row == nullptr) {
                    row = NewElementBefore(child, "tr", GUMBO_TAG_TR);
                    Append(rowGroup, row);
                }
                Append(row, child);
            }
            child = next;
        }
    }

private:
    enum class Placed { Left, Kept, Cell, Moved, Unwrapped };

    // Where a child of a table, row group or row goes.
    Placed Place(xmlNode* child, std::initializer_list<GumboTag> kept) {
        if (IsText(child)) {
            if (IsWhitespace(TextOf(child))) return Placed::Left;
            InsertBefore(table_, child);
            return Placed::Moved;
        }
        if (!IsElement(child)) return Placed::Left;
        const GumboTag tag = TagOf(*child);
        for (const GumboTag keep : kept)
            if (tag == keep) return Placed::Kept;
        if (IsCell(tag)) return Placed::Cell;
        if (StaysInTable(tag)) return Placed::Left;
        // A table is moved whole (it is shaped on its own), never unwrapped.
        if (tag != GUMBO_TAG_TABLE && HoldsTableParts(*child)) {
            resume_ = Unwrap(child);
            return Placed::Unwrapped;
        }
        InsertBefore(table_, child);
        return Placed::Moved;
    }

    void ShapeRowGroup(xmlNode* group) {
        xmlNode* row = nullptr;
        for (xmlNode* child = group->children; child != nullptr;) {
            xmlNode* next = child->next;
            const Placed placed = Place(child, {GUMBO_TAG_TR});
            if (placed == Placed::Unwrapped) {
                next = resume_;
            } else if (placed == Placed::Kept) {
                ShapeRow(child);
                row = nullptr;
            } else if (placed == Placed::Cell) {
                if (row == nullptr) row = NewElementBefore(child, "tr", GUMBO_TAG_TR);
                Append(row, child);
            }
            child = next;
        }
    }

    void ShapeRow(xmlNode* row) {
        for (xmlNode* child = row->children; child != nullptr;) {
            xmlNode* next = child->next;
            if (Place(child, {GUMBO_TAG_TD, GUMBO_TAG_TH}) == Placed::Unwrapped) next = resume_;
            child = next;
        }
    }

    xmlNode* table_;
    xmlNode* resume_ = nullptr;  // where to go on after a holder is unwrapped
};

// Table parts that stand outside a table (after the tables are shaped)
// stand for their content only, as browsers read them.
bool IsOutOfPlace(const xmlNode& element) {
    const GumboTag tag = TagOf(element);
    if (!IsTablePart(tag)) return false;
    const xmlNode* parent = element.parent;
    const GumboTag parentTag = parent != nullptr && IsElement(parent) ? TagOf(*parent) : GUMBO_TAG_UNKNOWN;
    if (IsCell(tag)) return parentTag != GUMBO_TAG_TR;
    if (tag == GUMBO_TAG_TR) return !IsRowGroup(parentTag);
    return parentTag != GUMBO_TAG_TABLE;
}

// Every element under `root`, in document order, without recursion.
template <typename Visit>
void EachElement(xmlNode* root, Visit visit) {
    for (xmlNode* node = root; node != nullptr;) {
        if (IsElement(node)) visit(*node);
        if (IsElement(node) && node->children != nullptr) {
            node = node->children;
            continue;
        }
        while (node != nullptr && node != root && node->next == nullptr) node = node->parent;
        if (node == nullptr || node == root) break;
        node = node->next;
    }
}

}  // namespace

// A new parser every so many pages: its dictionary keeps what it read.
constexpr unsigned kPagesPerParser = 2000;
constexpr int kParseOptions = HTML_PARSE_RECOVER | HTML_PARSE_NONET | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING |
                              HTML_PARSE_IGNORE_ENC | HTML_PARSE_COMPACT;

void PageParser::ParserDeleter::operator()(xmlParserCtxt* parser) const { htmlFreeParserCtxt(parser); }

PageParser::PageParser() {
    static const bool initialised = [] {
        xmlInitParser();  // before threads parse at once
        return true;
    }();
    (void)initialised;
}

PageParser::~PageParser() = default;

std::unique_ptr<PageTree> PageTree::Parse(std::string_view utf8) { return PageParser().Parse(utf8); }

std::unique_ptr<PageTree> PageParser::Parse(std::string_view utf8) {
    if (utf8.size() > INT_MAX) return nullptr;
    if (!parser_ || pages_ >= kPagesPerParser) {
        parser_.reset(htmlNewParserCtxt());
        if (!parser_) throw std::bad_alloc();
        pages_ = 0;
    }
    ++pages_;
    // As htmlCtxtReadMemory does, but with the dictionary used for names.
    htmlCtxtReset(parser_.get());
    xmlParserInputBuffer* buffer =
        xmlParserInputBufferCreateMem(utf8.data(), static_cast<int>(utf8.size()), XML_CHAR_ENCODING_NONE);
    if (buffer == nullptr) throw std::bad_alloc();
    xmlParserInput* input = xmlNewIOInputStream(parser_.get(), buffer, XML_CHAR_ENCODING_NONE);
    if (input == nullptr) {
        xmlFreeParserInputBuffer(buffer);
        throw std::bad_alloc();
    }
    if (inputPush(parser_.get(), input) < 0) {
        xmlFreeInputStream(input);
        throw std::bad_alloc();
    }
    htmlCtxtUseOptions(parser_.get(), kParseOptions);
    parser_->dictNames = 1;
    // The text is UTF-8 already: a <meta> naming another charset is not heeded.
    if (xmlCharEncodingHandler* utf8Handler = xmlFindCharEncodingHandler("UTF-8"))
        xmlSwitchToEncoding(parser_.get(), utf8Handler);
    htmlParseDocument(parser_.get());
    xmlDoc* document = parser_->myDoc;
    parser_->myDoc = nullptr;
    if (document == nullptr) return nullptr;
    std::unique_ptr<PageTree> tree(new PageTree(document));
    // libxml2 stops at elements nested 256 deep (the time it takes grows
    // with the depth): the rest of the page would be lost.
    const bool gaveUp = parser_->instate == XML_PARSER_EOF && parser_->disableSAX != 0;
    htmlCtxtReset(parser_.get());  // its copies of the text go now, not with the next page
    if (gaveUp) return nullptr;
    xmlNode* root = xmlDocGetRootElement(document);
    if (root == nullptr) return tree;
    std::vector<xmlNode*> tables;
    bool tableParts = false;
    EachElement(root, [&](xmlNode& element) {
        SetTag(element, gumbo_tag_enum(reinterpret_cast<const char*>(element.name)));
        if (TagOf(element) == GUMBO_TAG_TABLE) tables.push_back(&element);
        tableParts = tableParts || IsTablePart(TagOf(element));
    });
    if (!tableParts) return tree;
    for (xmlNode* table : tables) TableShaper(table).Shape();
    EachElement(root, [](xmlNode& element) {
        if (IsOutOfPlace(element)) SetTag(element, GUMBO_TAG_UNKNOWN);
    });
    return tree;
}

PageTree::~PageTree() { xmlFreeDoc(document_); }

const xmlNode* PageTree::Root() const {
    const xmlNode* root = xmlDocGetRootElement(document_);
    return root != nullptr && TagOf(*root) == GUMBO_TAG_HTML ? root : nullptr;
}

const char* AttributeOf(const xmlNode& element, const char* name) {
    for (const xmlAttr* attribute = element.properties; attribute != nullptr; attribute = attribute->next) {
        if (std::strcmp(reinterpret_cast<const char*>(attribute->name), name) != 0) continue;
        const xmlNode* value = attribute->children;
        return value != nullptr && value->type == XML_TEXT_NODE && value->content != nullptr
                   ? reinterpret_cast<const char*>(value->content)
                   : "";
    }
    return nullptr;
}

}  // namespace vexmor::epub
