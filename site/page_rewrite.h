// A help page made readable in a browser: its links repaired (see
// link_target.h) and, where it declares none, its charset named. Every byte
// outside the rewritten attribute values and the inserted declaration is the
// page's own.
#pragma once

#include <string>
#include <string_view>

#include "site/link_target.h"

namespace vexmor::site {

struct PageCharset {
    std::string iconvName;  // the help file's code page, for a page that names none; may be empty
    std::string webLabel;   // the same as browsers name it; empty: unknown
};

// Pages above this size are copied as they are: the parser's tree of a page
// takes many times its size.
inline constexpr std::size_t kPageRewriteLimit = 16u << 20;

// The page rewritten; `page` itself when nothing changes.
std::string RewritePage(std::string_view page, const LinkContext& context, const PageCharset& charset);

// The charset that a <meta> element of `html` declares (as written, in
// lower case), or empty.
std::string DeclaredCharsetOf(std::string_view html);

// False when a byte look at `page` shows that RewritePage would change
// nothing that matters: ASCII only (so any charset reads it alike), a word
// "charset", no '\', no help-scheme link, and no word that is a written
// stream's name or folder under another case.
bool PageMayNeedRewrite(std::string_view page, const SiteNames& names);

}  // namespace vexmor::site
