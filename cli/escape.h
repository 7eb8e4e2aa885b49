// Texts from a help file (inner names, titles) are untrusted: a name could
// hold a newline that forges a line of output, or a terminal control
// sequence. These turn such text into text that is safe to print.
#pragma once

#include <string>
#include <string_view>

namespace vexmor::cli {

// `text` with every character that could break a line or drive a terminal
// written as an escape: \n \t \r, a backslash as \\, every other control
// character (C0, DEL, C1), each byte of invalid UTF-8, the line and
// paragraph separators (U+2028, U+2029) and every format character
// (direction marks and overrides, zero-width and invisible characters,
// tags: Unicode category Cf) as \ooo octal bytes. Anything else is kept, so a plain
// name, Chinese included, reads as it is. The escaping is reversible.
std::string EscapeForLine(std::string_view text);

// `text` as a JSON string, quotes included. Valid UTF-8 is kept; quote,
// backslash and the characters EscapeForLine escapes are written as JSON
// escapes; a byte of invalid UTF-8 becomes the character of that value
// (\u00XX), so the result is always valid JSON and safe on a terminal.
std::string JsonString(std::string_view text);

}  // namespace vexmor::cli
