// Replacements of spans of a text, made once the whole text was looked at,
// so that every byte outside them stays as it was.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vexmor::site {

struct TextEdit {
    std::size_t offset = 0;
    std::size_t length = 0;  // 0: an insertion
    std::string replacement;
};

// `text` with `edits` made; an edit that overlaps an earlier one or runs
// past the end is left out.
std::string ApplyEdits(std::string_view text, std::vector<TextEdit> edits);

}  // namespace vexmor::site
