#include "site/text_edits.h"

#include <algorithm>

namespace vexmor::site {

std::string ApplyEdits(std::string_view text, std::vector<TextEdit> edits) {
    std::stable_sort(edits.begin(), edits.end(),
                     [](const TextEdit& a, const TextEdit& b) { return a.offset < b.offset; });
    std::string out;
    out.reserve(text.size() + 64 * edits.size());
    std::size_t done = 0;
    for (const TextEdit& edit : edits) {
        if (edit.offset < done || edit.offset > text.size() || edit.length > text.size() - edit.offset) continue;
        out.append(text.substr(done, edit.offset - done));
        out += edit.replacement;
        done = edit.offset + edit.length;
    }
    out.append(text.substr(done));
    return out;
}

}  // namespace vexmor::site
