// What of a help file goes into its e-book, under which name and media
// type. Names are kept where the container's rules allow them; a level with
// a character those rules refuse, or one that differs from an earlier name
// only in case, gets a name of its own, and links follow it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "catalogue/uChmExtractor.h"

namespace vexmor::epub {

// The folder of the book that holds the help file's streams; the book's own
// files lie beside it, so that no stream's name can take their place.
inline constexpr std::string_view kContentFolder = "OEBPS/";

enum class ResourceKind { Page, StyleSheet, Image, Font, Audio, LeftOut };

struct MediaType {
    ResourceKind kind = ResourceKind::LeftOut;
    const char* name = "";  // as the package document writes it
};

// By the name's extension. Pages become XHTML; what a reading system need
// not show (a BMP, a script, the contents file, ...) is left out.
MediaType MediaTypeOf(std::string_view name);

struct BookResource {
    std::size_t item = 0;  // index into the items
    std::string stored;    // inner path as the help file stores it
    std::string entry;     // its name in the book, kContentFolder included
    MediaType type;
    std::string id;  // in the package document
};

class BookNames {
public:
    // `order`: the items to consider, in the order they are written.
    BookNames(const TChmItems& items, const std::vector<std::size_t>& order);

    // The resources of the book, in `order`.
    const std::vector<BookResource>& Resources() const { return resources_; }
    // By stored inner path, exactly; null for what the book leaves out.
    const BookResource* Find(std::string_view stored) const;

private:
    std::vector<BookResource> resources_;
    // Views into resources_' own names, which never move once made.
    std::unordered_map<std::string_view, std::size_t> byStored_;
};

// `level` (UTF-8 or not) as a name the container allows: the characters it
// refuses ("*:<>?\| and controls, private-use and non-characters, bytes that
// are no UTF-8) become '_', and a '.' at the end does too.
std::string OcfLevel(std::string_view level);

// The link from the book file `from` to the book file `to` (both full
// entry names), percent-encoded.
std::string RelativeHref(std::string_view from, std::string_view to);

}  // namespace vexmor::epub
