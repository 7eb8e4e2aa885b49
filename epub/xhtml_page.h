// A help page as a page of an e-book: parsed from its charset (declared,
// else the help file's code page), written as well-formed UTF-8 XHTML 5.
// Presentational markup becomes CSS, scripts and ActiveX objects go (a
// "related topics" control leaves its links), links lead to the book's own
// files or are left out with their text kept, and elements are nested as
// XHTML allows.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "epub/book_links.h"
#include "epub/page_tree.h"
#include "site/page_rewrite.h"

namespace vexmor::epub {

// Pages above this size (as UTF-8) are written as their text in one block.
inline constexpr std::size_t kParsedPageLimit = 2u << 20;

struct PageInput {
    std::string_view bytes;
    const BookResource* page = nullptr;  // the page itself in the book
    const BookLinks* links = nullptr;
    site::PageCharset charset;  // the help file's code page
    std::string language;       // BCP 47, may be empty
    // Whether a link into another page of the book may keep its fragment
    // (an id of that page); null: every one may.
    std::function<bool(const BookResource& target, const std::string& id)> keepFragment;
    // Ids that pages written before link to: those the page lacks are
    // written as empty anchors at the top of its body.
    std::vector<std::string> anchors;
};

// A page written but for what hangs on the pages written before it: which of
// its links into other pages keep their fragment, and the anchors asked of
// it. Drafts are made on any thread, in any order; they are finished in the
// order of the book.
struct PageDraft {
    std::string head;  // up to the body's start tag, with it
    std::string body;  // the body's content
    // A link into another page with a fragment, at `offset` in `body`.
    struct Link {
        std::size_t offset;
        std::size_t length;
        const BookResource* target;
        std::string id;
        std::string plain;  // the href without its fragment, escaped
    };
    std::vector<Link> links;
    // A link into the page itself, kept where the page holds the id.
    struct Fragment {
        std::size_t offset;
        std::size_t length;
        std::string id;
    };
    std::vector<Fragment> fragments;
    std::string self;  // the page's own href
    std::unordered_set<std::string> ids;  // written
};

// What a thread that drafts pages keeps from one page to the next.
struct DraftingTools {
    PageParser parser;
    LinkMemo links;
};

// `input.keepFragment` and `input.anchors` are not looked at.
PageDraft DraftPage(const PageInput& input, DraftingTools& tools);
// `ids`, when given, receives the ids the page holds.
std::string FinishPage(PageDraft draft, const PageInput& input, std::vector<std::string>* ids = nullptr);
// Both at once.
std::string XhtmlPage(const PageInput& input, std::vector<std::string>* ids = nullptr);

// The charset a page is read in: its byte order mark, its <meta>
// declaration, UTF-8 where the bytes are, else `fallback` (iconv names).
std::string PageCharsetOf(std::string_view bytes, const std::string& fallback);

}  // namespace vexmor::epub
