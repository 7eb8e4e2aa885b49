// Checks of a page the site export makes itself (entry page, keyword index)
// from names and links of an untrusted contents file.
#pragma once

#include <string_view>

namespace vexmor::fuzz {

// Aborts through Broken() unless `html` is well-formed UTF-8 made only of
// the tags the pages use, properly nested, with every '<' and '>' of a
// name escaped, and every href or src either an http(s), ftp or mailto
// address or a relative link that stays inside the site's folder (or goes
// into one folder beside it, named after another help file). `what` names
// the page in the report.
void CheckMadePage(std::string_view html, const char* what);

// Whether `link` (as a browser reads it, entities decoded) is an address
// the pages may hold: see CheckMadePage.
bool IsSafeMadeLink(std::string_view link);

}  // namespace vexmor::fuzz
