// The links of a style sheet: url(...) and @import "...".
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "site/link_target.h"
#include "site/text_edits.h"

namespace vexmor::site {

// Appends to `edits` the rewritten links of the style sheet `css`, whose
// offsets start at `base`; `charset` (iconv name) is the sheet's text's.
// Comments are skipped; every byte outside a rewritten link stays.
void CollectCssEdits(std::string_view css, std::size_t base, const LinkContext& context, const std::string& charset,
                     std::vector<TextEdit>& edits);

// The text that takes the place of a link of a style sheet (as written,
// without quotes), or nullopt to keep it.
using CssLinkRewrite = std::function<std::optional<std::string>(std::string_view link)>;

// As above, with the links rewritten by `rewrite`.
void CollectCssEdits(std::string_view css, std::size_t base, const CssLinkRewrite& rewrite,
                     std::vector<TextEdit>& edits);

// The rewritten text of a whole style sheet.
std::string RewriteCss(std::string_view css, const LinkContext& context, const std::string& charset);

}  // namespace vexmor::site
