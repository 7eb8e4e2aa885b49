// Languages of help files: the name of a language id (LCID) and the code
// page its texts are written in, for the common ones.
#pragma once

#include <cstdint>
#include <string>

namespace vexmor {

struct Language {
    const char* name;     // English name; nullptr for an id not in the table
    const char* charset;  // iconv name of its ANSI code page; nullptr when unknown
    const char* webLabel; // the same code page as browsers name it (WHATWG label)
    const char* tag = nullptr;  // BCP 47 language tag, as e-books name the language
};

Language LanguageOf(std::uint32_t languageId);

// `text` in `charset` converted to UTF-8. Without a charset, or when the
// bytes are not valid in it, the text is returned as it is (the caller
// escapes what is not UTF-8).
std::string ToUtf8(const std::string& text, const char* charset);

}  // namespace vexmor
