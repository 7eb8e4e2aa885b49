// The presentational attributes of HTML 4 (align, bgcolor, border, font
// size, ...) as the CSS declarations that mean the same: an e-book's pages
// are XHTML 5, which no longer has them.
#pragma once

#include <string>
#include <string_view>

#include "epub/page_tree.h"

namespace vexmor::epub {

// What a table passes on to its cells.
struct TableLook {
    int border = 0;       // px, 0: none
    int cellPadding = -1;  // px, -1: not given
};

// Declarations for the presentational attributes of `element`, each ended
// by ';'. `background` gives the url() text of a
// background image, empty to leave it out. Never holds a character that
// needs escaping in XML but for '&' and '<' (the caller escapes).
std::string PresentationCss(const PageNode& element, const std::string& background);

// The declarations an element itself stands for where XHTML 5 has no such
// element (font, center, big, tt, nobr, ...); empty for the others.
std::string ElementCss(const PageNode& element);

// The look of a table that its cells take: border and padding.
TableLook TableLookOf(const PageNode& table);
std::string CellCss(const TableLook& look);

// A colour as CSS writes it (#rgb, #rrggbb, a name), or empty when `value`
// is none.
std::string CssColour(std::string_view value);
// A length (N, N%, Npx) in CSS, or empty.
std::string CssLength(std::string_view value);
// True when `value` is a non-negative integer.
bool IsNonNegativeInteger(std::string_view value);

}  // namespace vexmor::epub
