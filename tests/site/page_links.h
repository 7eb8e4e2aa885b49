// What the tests read back from written pages: their links, found by an
// HTML parser, and whether a page differs from its stream only inside
// attribute values and by an inserted charset declaration.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vexmor::sitetest {

struct PageLink {
    std::string element;    // "a", "img", ...
    std::string attribute;  // "href", "src", ...
    std::string value;      // as the browser reads it (character references resolved)
};

// The href/src/background... links of `html`, and the url()s of its style
// elements and attributes.
std::vector<PageLink> LinksOf(std::string_view html);

// The url()s and @import strings of a style sheet.
std::vector<std::string> CssLinksOf(std::string_view css);

// Whether `link` names a file of the site folder: no scheme, no fragment
// only, not a network path.
bool IsRelativeLink(std::string_view link);

// `link`'s path with the query and fragment cut and %XX decoded.
std::string LinkPath(std::string_view link);

// Empty when `written` is `original` with only attribute values (and the
// text of <style> elements) changed and at most one `<meta charset="...">`
// inserted; else where they part.
std::string DifferenceOutsideValues(std::string_view original, std::string_view written);

}  // namespace vexmor::sitetest
