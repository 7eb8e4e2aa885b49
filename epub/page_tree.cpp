#include "epub/page_tree.h"

#include <libxml/HTMLparser.h>
#include <libxml/HTMLtree.h>
#include <libxml/SAX2.h>
#include <libxml/parserInternals.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>

namespace vexmor::epub {

namespace {

constexpr std::size_t kArenaBlock = 64 * 1024;

}  // namespace

// ---- the arena ---------------------------------------------------------

// Ordinary blocks kept over a Reset: enough for most pages' trees.
constexpr std::size_t kKeptBlocks = 16;

void PageArena::Reset() {
    large_.clear();
    if (blocks_.size() > kKeptBlocks) blocks_.resize(kKeptBlocks);
    used_ = 0;
    free_ = nullptr;
    left_ = 0;
}

void* PageArena::Allocate(std::size_t size, std::size_t alignment) {
    // alignment is a power of two: the padding is found without a division.
    const std::size_t padding = (0 - reinterpret_cast<std::uintptr_t>(free_)) & (alignment - 1);
    if (free_ != nullptr && padding <= left_ && size <= left_ - padding) {
        std::byte* at = free_ + padding;
        free_ = at + size;
        left_ -= padding + size;
        return at;
    }
    // A large request gets a block of its own; allocation goes on in the
    // ordinary block in use. Blocks are left uninitialised: written before read.
    if (size > kArenaBlock / 4) {
        large_.emplace_back(new std::byte[size]);
        return large_.back().get();
    }
    if (used_ == blocks_.size()) blocks_.emplace_back(new std::byte[kArenaBlock]);
    std::byte* block = blocks_[used_++].get();  // new[] aligns for every fundamental type
    free_ = block + size;
    left_ = kArenaBlock - size;
    return block;
}

PageNode* PageArena::NewNode(PageNode::Kind kind) {
    PageNode* node = new (Allocate(sizeof(PageNode), alignof(PageNode))) PageNode;
    node->kind = kind;
    return node;
}

PageAttribute* PageArena::NewAttribute() {
    return new (Allocate(sizeof(PageAttribute), alignof(PageAttribute))) PageAttribute{"", "", nullptr};
}

std::string_view PageArena::Copy(std::string_view text) {
    char* copy = static_cast<char*>(Allocate(text.size() + 1, 1));
    if (!text.empty()) std::memcpy(copy, text.data(), text.size());
    copy[text.size()] = '\0';
    return {copy, text.size()};
}

PageTree::PageTree(PageArena& arena) : arena_(arena), document_(arena.NewNode(PageNode::Kind::Other)) {}

const PageNode* PageTree::Root() const {
    for (const PageNode* node = document_->children; node != nullptr; node = node->next)
        if (IsElement(node)) return TagOf(*node) == GUMBO_TAG_HTML ? node : nullptr;
    return nullptr;
}

const char* AttributeOf(const PageNode& element, const char* name) {
    for (const PageAttribute* attribute = element.attributes; attribute != nullptr; attribute = attribute->next)
        if (attribute->name[0] == name[0] && std::strcmp(attribute->name, name) == 0) return attribute->value;
    return nullptr;
}

// ---- building the tree from the parser's events -------------------------

namespace {

bool IsRowGroup(GumboTag tag) { return tag == GUMBO_TAG_TBODY || tag == GUMBO_TAG_THEAD || tag == GUMBO_TAG_TFOOT; }
bool IsCell(GumboTag tag) { return tag == GUMBO_TAG_TD || tag == GUMBO_TAG_TH; }
bool IsTablePart(GumboTag tag) {
    return IsRowGroup(tag) || IsCell(tag) || tag == GUMBO_TAG_TR || tag == GUMBO_TAG_CAPTION;
}

// Elements nested deeper than libxml2's own tree builder takes (it stops
// the parse there): the time the parser takes grows with the depth.
constexpr unsigned kMaxDepth = 256;

}  // namespace

// The parser calls these back from C: nothing may be thrown through it. A
// failure stops the parse and is thrown once it has returned.
class TreeBuilder {
public:
    TreeBuilder(PageTree& tree, PageParser& parser, xmlParserCtxt& context)
        : tree_(tree), parser_(parser), context_(context), current_(tree.document_), pending_(parser.text_) {
        pending_.clear();
    }

    static void Install(xmlSAXHandler& sax) {
        sax.startElement = &OnStart;
        sax.endElement = &OnEnd;
        sax.characters = &OnText;
        sax.cdataBlock = &OnText;
        // Blanks reach ignorableWhitespace only where the parser drops them
        // (HTML_PARSE_NOBLANKS); they are dropped here as libxml2's own tree
        // builder drops them.
        if (sax.ignorableWhitespace != &xmlSAX2IgnorableWhitespace) sax.ignorableWhitespace = &OnText;
        sax.comment = &OnComment;
        sax.processingInstruction = &OnInstruction;
    }

    // After the parse: what is still pending.
    void Finish() {
        Guarded([&] { FlushText(); });
        if (failure_) std::rethrow_exception(failure_);
    }

    bool TooDeep() const { return tooDeep_; }
    std::vector<PageNode*>& Tables() { return tables_; }
    bool HoldsTableParts() const { return tableParts_; }

private:
    static TreeBuilder& Of(void* context) {
        return *static_cast<TreeBuilder*>(static_cast<xmlParserCtxt*>(context)->_private);
    }

    template <typename Work>
    void Guarded(Work work) {
        if (failure_) return;
        try {
            work();
        } catch (...) {
            failure_ = std::current_exception();
            xmlStopParser(&context_);
        }
    }

    static void OnStart(void* context, const xmlChar* name, const xmlChar** attributes) {
        TreeBuilder& builder = Of(context);
        builder.Guarded([&] { builder.Start(reinterpret_cast<const char*>(name), attributes); });
    }
    static void OnEnd(void* context, const xmlChar*) {
        TreeBuilder& builder = Of(context);
        builder.Guarded([&] { builder.End(); });
    }
    static void OnText(void* context, const xmlChar* text, int length) {
        TreeBuilder& builder = Of(context);
        if (length <= 0) return;
        builder.Guarded(
            [&] { builder.pending_.append(reinterpret_cast<const char*>(text), static_cast<std::size_t>(length)); });
    }
    static void OnComment(void* context, const xmlChar*) {
        TreeBuilder& builder = Of(context);
        builder.Guarded([&] { builder.Boundary(); });
    }
    static void OnInstruction(void* context, const xmlChar*, const xmlChar*) {
        TreeBuilder& builder = Of(context);
        builder.Guarded([&] { builder.Boundary(); });
    }

    void Start(const char* name, const xmlChar** attributes) {
        FlushText();
        if (depth_ >= kMaxDepth + 1) {
            tooDeep_ = true;
            xmlStopParser(&context_);
            return;
        }
        PageNode* element = tree_.arena_.NewNode(PageNode::Kind::Element);
        element->tag = parser_.TagOfName(name);
        PageAttribute* last = nullptr;
        for (const xmlChar** pair = attributes; pair != nullptr && pair[0] != nullptr; pair += 2) {
            PageAttribute* attribute = tree_.arena_.NewAttribute();
            attribute->name = tree_.arena_.Copy(reinterpret_cast<const char*>(pair[0])).data();
            // Boolean attributes stand for their own name, as libxml2's tree
            // builder writes them; others without a value are "".
            if (pair[1] != nullptr) attribute->value = tree_.arena_.Copy(reinterpret_cast<const char*>(pair[1])).data();
            else if (htmlIsBooleanAttr(pair[0])) attribute->value = attribute->name;
            if (last != nullptr) last->next = attribute;
            else element->attributes = attribute;
            last = attribute;
        }
        Append(element);
        current_ = element;
        ++depth_;
        if (element->tag == GUMBO_TAG_TABLE) tables_.push_back(element);
        tableParts_ = tableParts_ || IsTablePart(element->tag);
    }

    void End() {
        FlushText();
        if (current_ == tree_.document_) return;
        current_ = current_->parent;
        --depth_;
    }

    void Boundary() {
        FlushText();
        if (current_ != tree_.document_) Append(tree_.arena_.NewNode(PageNode::Kind::Other));
    }

    // Text between two other events is one node, as libxml2 joins it.
    // Text outside every element is dropped, as libxml2 drops it.
    void FlushText() {
        if (pending_.empty()) return;
        if (current_ != tree_.document_) {
            PageNode* text = tree_.arena_.NewNode(PageNode::Kind::Text);
            text->text = tree_.arena_.Copy(pending_);
            Append(text);
        }
        pending_.clear();
    }

    void Append(PageNode* node) {
        node->parent = current_;
        node->prev = current_->last;
        if (current_->last != nullptr) current_->last->next = node;
        else current_->children = node;
        current_->last = node;
    }

    PageTree& tree_;
    PageParser& parser_;
    xmlParserCtxt& context_;
    PageNode* current_;
    std::string& pending_;  // the parser's, kept from page to page
    unsigned depth_ = 0;
    bool tooDeep_ = false;
    std::vector<PageNode*> tables_;
    bool tableParts_ = false;
    std::exception_ptr failure_;
};

// ---- tables ------------------------------------------------------------

namespace {

// Links without freeing anything: the arena owns every node.
void Unlink(PageNode* node) {
    if (node->prev != nullptr) node->prev->next = node->next;
    else if (node->parent != nullptr) node->parent->children = node->next;
    if (node->next != nullptr) node->next->prev = node->prev;
    else if (node->parent != nullptr) node->parent->last = node->prev;
    node->parent = node->next = node->prev = nullptr;
}

void InsertBefore(PageNode* before, PageNode* node) {
    Unlink(node);
    node->parent = before->parent;
    node->prev = before->prev;
    node->next = before;
    if (before->prev != nullptr) before->prev->next = node;
    else if (before->parent != nullptr) before->parent->children = node;
    before->prev = node;
}

void Append(PageNode* parent, PageNode* node) {
    Unlink(node);
    node->parent = parent;
    node->prev = parent->last;
    node->next = nullptr;
    if (parent->last != nullptr) parent->last->next = node;
    else parent->children = node;
    parent->last = node;
}

PageNode* NewElementBefore(PageArena& arena, PageNode* before, GumboTag tag) {
    PageNode* element = arena.NewNode(PageNode::Kind::Element);
    element->tag = tag;
    InsertBefore(before, element);
    return element;
}

bool IsWhitespace(std::string_view text) {
    for (const char c : text)
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r' && c != '\f') return false;
    return true;
}

// Left where they stand in a table: the writer leaves them out.
bool StaysInTable(GumboTag tag) {
    return tag == GUMBO_TAG_COL || tag == GUMBO_TAG_COLGROUP || tag == GUMBO_TAG_SCRIPT || tag == GUMBO_TAG_STYLE ||
           tag == GUMBO_TAG_INPUT || tag == GUMBO_TAG_TEMPLATE;
}

// An element (a form, a font) around rows or cells: its content takes its place.
bool HoldsTableParts(const PageNode& element) {
    for (const PageNode* child = element.children; child != nullptr; child = child->next)
        if (IsElement(child) && IsTablePart(TagOf(*child))) return true;
    return false;
}

// The content of `holder` in its place, the holder gone; returns what
// follows in its place.
PageNode* Unwrap(PageNode* holder) {
    PageNode* first = holder->children != nullptr ? holder->children : holder->next;
    while (holder->children != nullptr) InsertBefore(holder, holder->children);
    Unlink(holder);
    return first;
}

class TableShaper {
public:
    TableShaper(PageArena& arena, PageNode* table) : arena_(arena), table_(table) {}

    void Shape() {
        PageNode* rowGroup = nullptr;  // made for rows that stand in the table itself
        PageNode* row = nullptr;       // made for cells that stand in the table itself
        for (PageNode* child = table_->children; child != nullptr;) {
            PageNode* next = child->next;
            const Placed placed = Place(child, {GUMBO_TAG_TR, GUMBO_TAG_TBODY, GUMBO_TAG_THEAD, GUMBO_TAG_TFOOT, GUMBO_TAG_CAPTION});
            if (placed == Placed::Unwrapped) {
                next = resume_;  // the holder's content, where it stood
            } else if (placed == Placed::Kept) {
                const GumboTag tag = TagOf(*child);
                if (tag == GUMBO_TAG_TR) {
                    if (rowGroup == nullptr) rowGroup = NewElementBefore(arena_, child, GUMBO_TAG_TBODY);
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
                if (rowGroup == nullptr) rowGroup = NewElementBefore(arena_, child, GUMBO_TAG_TBODY);
                if (row == nullptr) {
                    row = NewElementBefore(arena_, child, GUMBO_TAG_TR);
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
    Placed Place(PageNode* child, std::initializer_list<GumboTag> kept) {
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

    void ShapeRowGroup(PageNode* group) {
        PageNode* row = nullptr;
        for (PageNode* child = group->children; child != nullptr;) {
            PageNode* next = child->next;
            const Placed placed = Place(child, {GUMBO_TAG_TR});
            if (placed == Placed::Unwrapped) {
                next = resume_;
            } else if (placed == Placed::Kept) {
                ShapeRow(child);
                row = nullptr;
            } else if (placed == Placed::Cell) {
                if (row == nullptr) row = NewElementBefore(arena_, child, GUMBO_TAG_TR);
                Append(row, child);
            }
            child = next;
        }
    }

    void ShapeRow(PageNode* row) {
        for (PageNode* child = row->children; child != nullptr;) {
            PageNode* next = child->next;
            if (Place(child, {GUMBO_TAG_TD, GUMBO_TAG_TH}) == Placed::Unwrapped) next = resume_;
            child = next;
        }
    }

    PageArena& arena_;
    PageNode* table_;
    PageNode* resume_ = nullptr;  // where to go on after a holder is unwrapped
};

// Table parts that stand outside a table (after the tables are shaped)
// stand for their content only, as browsers read them.
bool IsOutOfPlace(const PageNode& element) {
    const GumboTag tag = TagOf(element);
    if (!IsTablePart(tag)) return false;
    const PageNode* parent = element.parent;
    const GumboTag parentTag = parent != nullptr && IsElement(parent) ? TagOf(*parent) : GUMBO_TAG_UNKNOWN;
    if (IsCell(tag)) return parentTag != GUMBO_TAG_TR;
    if (tag == GUMBO_TAG_TR) return !IsRowGroup(parentTag);
    return parentTag != GUMBO_TAG_TABLE;
}

// Every element under `root`, in document order, without recursion.
template <typename Visit>
void EachElement(PageNode* root, Visit visit) {
    for (PageNode* node = root; node != nullptr;) {
        if (IsElement(node)) visit(*node);
        if (node->children != nullptr) {
            node = node->children;
            continue;
        }
        while (node != nullptr && node != root && node->next == nullptr) node = node->parent;
        if (node == nullptr || node == root) break;
        node = node->next;
    }
}

// A new parser every so many pages: its dictionary keeps what it read.
constexpr unsigned kPagesPerParser = 2000;
constexpr int kParseOptions = HTML_PARSE_RECOVER | HTML_PARSE_NONET | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING |
                              HTML_PARSE_IGNORE_ENC | HTML_PARSE_COMPACT | HTML_PARSE_NODEFDTD;
// Slots of the table of known names (a power of two), cleared when half full.
constexpr std::size_t kKnownTagSlots = 512;

}  // namespace

// ---- the parser --------------------------------------------------------

void PageParser::ParserDeleter::operator()(xmlParserCtxt* parser) const { htmlFreeParserCtxt(parser); }

PageParser::PageParser() {
    static const bool initialised = [] {
        xmlInitParser();  // before threads parse at once
        return true;
    }();
    (void)initialised;
}

PageParser::~PageParser() = default;

GumboTag PageParser::TagOfName(const char* name) {
    // Names come from the parser's dictionary or are constants of libxml2,
    // so an address stands for one name; the name is compared all the same.
    std::size_t slot = (reinterpret_cast<std::uintptr_t>(name) >> 3) & (kKnownTagSlots - 1);
    for (;; slot = (slot + 1) & (kKnownTagSlots - 1)) {
        KnownTag& known = knownTags_[slot];
        if (known.name == nullptr) break;
        if (known.name == name && std::strcmp(known.spelling, name) == 0) return known.tag;
    }
    GumboTag tag;
    if (std::strchr(name, ':') == nullptr) {
        tag = gumbo_tag_enum(name);
    } else {
        // A prefixed name (Word's <o:p>) is known by its local part, as
        // libxml2's tree builder names it.
        xmlChar* prefix = nullptr;
        xmlChar* local = xmlSplitQName(parser_.get(), reinterpret_cast<const xmlChar*>(name), &prefix);
        tag = local != nullptr ? gumbo_tag_enum(reinterpret_cast<const char*>(local)) : GUMBO_TAG_UNKNOWN;
        xmlFree(local);
        xmlFree(prefix);
    }
    if (std::strlen(name) >= sizeof(KnownTag::spelling)) return tag;
    if (++knownCount_ > kKnownTagSlots / 2) {
        knownTags_.assign(kKnownTagSlots, {});
        knownCount_ = 1;
        slot = (reinterpret_cast<std::uintptr_t>(name) >> 3) & (kKnownTagSlots - 1);
    }
    KnownTag& known = knownTags_[slot];
    known.name = name;
    std::strcpy(known.spelling, name);
    known.tag = tag;
    return tag;
}

std::unique_ptr<PageTree> PageParser::Parse(std::string_view utf8) {
    if (utf8.size() > INT_MAX) return nullptr;
    if (!parser_ || pages_ >= kPagesPerParser) {
        knownTags_.assign(kKnownTagSlots, {});  // the names of the old dictionary
        knownCount_ = 0;
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
    // The text is valid UTF-8 already, which the parser reads as it stands
    // (no encoder copying it through): a <meta> naming another charset is
    // not heeded (HTML_PARSE_IGNORE_ENC).
    parser_->charset = XML_CHAR_ENCODING_UTF8;

    arena_.Reset();
    std::unique_ptr<PageTree> tree(new PageTree(arena_));
    TreeBuilder builder(*tree, *this, *parser_);
    TreeBuilder::Install(*parser_->sax);
    parser_->_private = &builder;
    htmlParseDocument(parser_.get());
    parser_->_private = nullptr;
    // The document libxml2 made holds no more than its type: ours is the tree.
    const bool madeDocument = parser_->myDoc != nullptr;
    if (madeDocument) xmlFreeDoc(parser_->myDoc);
    parser_->myDoc = nullptr;
    const bool gaveUp = builder.TooDeep() || (parser_->instate == XML_PARSER_EOF && parser_->disableSAX != 0);
    htmlCtxtReset(parser_.get());  // its copies of the text go now, not with the next page
    builder.Finish();
    if (!madeDocument || gaveUp) return nullptr;

    if (!builder.HoldsTableParts()) return tree;
    for (PageNode* table : builder.Tables()) TableShaper(tree->arena_, table).Shape();
    EachElement(tree->document_, [](PageNode& element) {
        if (IsOutOfPlace(element)) element.tag = GUMBO_TAG_UNKNOWN;
    });
    return tree;
}

}  // namespace vexmor::epub
