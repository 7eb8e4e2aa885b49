// Where a link of a help page leads in the e-book: a file of the book (by
// its name there), an address on the web, or nowhere, in which case the
// link is left out and its text kept.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "epub/book_names.h"
#include "site/site_names.h"

namespace vexmor::epub {

// What a link is used for: the book allows a hyperlink to its pages only,
// an image from its images only, and no file from the web.
enum class LinkUse { Hyperlink, Image, StyleSheet, Background };

struct BookLink {
    // For a file of the book: it, and the fragment as an id of that page
    // (IdName), empty for none. For the web: `web` is the address.
    const BookResource* target = nullptr;
    std::string fragment;
    std::string web;
};

// Links resolved lately, by the folder of the page they stand in: help
// pages repeat the same links (navigation bars, "see also" lists) page after
// page. For one thread, and for the links of one BookLinks.
class LinkMemo {
private:
    friend class BookLinks;
    std::unordered_map<std::string, std::optional<BookLink>> resolved_;
    std::string key_;  // reused for each lookup
};

class BookLinks {
public:
    BookLinks(const BookNames& book, const site::SiteNames& names, std::string helpFileName)
        : book_(book), names_(names), helpFileName_(std::move(helpFileName)) {}

    // `link` as written in a page or style sheet of `from` (UTF-8, entities
    // decoded); nullopt where the book holds nothing of the kind there. A
    // link to nothing but a fragment ("#x") targets `from` itself.
    std::optional<BookLink> Resolve(std::string_view link, const BookResource& from, LinkUse use) const;
    // The same, looked up in `memo` first and kept there.
    std::optional<BookLink> Resolve(std::string_view link, const BookResource& from, LinkUse use,
                                    LinkMemo& memo) const;

    // The href of `link` for a file of the book at `from`.
    static std::string Href(const BookLink& link, std::string_view from);

    const BookNames& Book() const { return book_; }

private:
    // A link that is not a bare fragment, as written in `folder`.
    std::optional<BookLink> ResolveIn(std::string_view link, std::string_view folder, LinkUse use) const;

    const BookNames& book_;
    const site::SiteNames& names_;
    std::string helpFileName_;
};

// An id of a page as XML allows it (a name without ':' that starts with a
// letter or '_'): kept when it is one, else written with its other bytes as
// "_XX" after "_-". Links to it are written the same way, so they still meet.
std::string IdName(std::string_view id);

}  // namespace vexmor::epub
