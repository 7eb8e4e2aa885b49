// Text and attribute values as XML takes them: escaped, and without the
// characters an XHTML page may not hold.
#pragma once

#include <string>
#include <string_view>

namespace vexmor::epub {

// Appends `text` (UTF-8; bytes that are no UTF-8 become U+FFFD) to `out`,
// '&', '<' and '>' escaped, '"' too when `attribute`; controls other than
// tab and line ends, C1 controls and non-characters are left out.
void AppendXmlText(std::string& out, std::string_view text, bool attribute = false);

std::string XmlText(std::string_view text, bool attribute = false);

}  // namespace vexmor::epub
