// The files of an e-book beside the help file's own: the container file,
// the package document, the navigation document, the EPUB 2 table of
// contents and the keyword index page.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "epub/book_links.h"
#include "site/sitemap.h"

namespace vexmor::epub {

inline constexpr const char* kPackageName = "package.opf";
inline constexpr const char* kNavName = "nav.xhtml";
inline constexpr const char* kNcxName = "toc.ncx";
inline constexpr const char* kKeywordName = "keywords.xhtml";

struct BookFacts {
    std::string title;       // UTF-8
    std::string language;    // BCP 47
    std::string identifier;  // urn:uuid:...
    std::string modified;    // CCYY-MM-DDThh:mm:ssZ
};

// Whether the page `target` of the book holds the id `id` (as written).
using IdCheck = std::function<bool(const BookResource& target, const std::string& id)>;

std::string ContainerXml();

// `spine`: the pages in reading order; `keywords`: whether the keyword
// page is part of the book.
std::string PackageDocument(const BookFacts& facts, const BookNames& book, const std::vector<const BookResource*>& spine,
                            bool keywords);

// From the contents file; a book without one (or an empty one) lists its
// first page.
std::string NavDocument(const BookFacts& facts, const site::Sitemap* contents, const BookLinks& links,
                        const IdCheck& hasId, const BookResource* firstPage);
std::string NcxDocument(const BookFacts& facts, const site::Sitemap* contents, const BookLinks& links,
                        const IdCheck& hasId, const BookResource* firstPage);
std::string KeywordDocument(const BookFacts& facts, const site::Sitemap& keywords, const BookLinks& links,
                            const IdCheck& hasId);

// The pages the contents file names, in its order, each once.
std::vector<const BookResource*> ContentsOrder(const site::Sitemap* contents, const BookLinks& links);

// The resource standing for the book's own files at its root, for
// resolving the contents' links (which are written from the root).
const BookResource& RootResource(const char* name);

}  // namespace vexmor::epub
