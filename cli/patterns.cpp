#include "cli/patterns.h"

#include <fnmatch.h>


namespace vexmor::cli {

namespace {

std::vector<std::string> Levels(std::string_view text) {
    std::vector<std::string> levels;
    std::size_t begin = 0;
    for (;;) {
        const std::size_t end = text.find('/', begin);
        levels.emplace_back(text.substr(begin, end == std::string_view::npos ? std::string_view::npos : end - begin));
        if (end == std::string_view::npos) return levels;
        begin = end + 1;
    }
}

// fnmatch needs NUL-terminated text; a level holding a NUL byte matches only
// a pattern level that is equal to it.
bool LevelMatches(const std::string& pattern, const std::string& level) {
    if (pattern.find('\0') != std::string::npos || level.find('\0') != std::string::npos) return pattern == level;
    return ::fnmatch(pattern.c_str(), level.c_str(), 0) == 0;
}

}  // namespace

bool MatchesPattern(std::string_view pattern, std::string_view innerPath) {
    const std::vector<std::string> want = Levels(pattern);
    const std::vector<std::string> have = Levels(innerPath);
    // reach[j]: the first i levels of the pattern match the first j of the
    // name. One row per pattern level: no backtracking, so no pattern makes
    // this slow on a deep name.
    std::vector<char> reach(have.size() + 1, 0);
    reach[0] = 1;
    for (std::size_t i = 0; i < want.size(); ++i) {
        const std::string& level = want[i];
        std::vector<char> next(have.size() + 1, 0);
        if (level == "**") {
            // Last in the pattern it stands for what lies below, so at least
            // one level: "html/**" is not the stream "html" itself.
            const bool last = i + 1 == want.size();
            char any = 0;
            for (std::size_t j = 0; j <= have.size(); ++j) {
                if (last) next[j] = any;
                any = static_cast<char>(any | reach[j]);
                if (!last) next[j] = any;
            }
        } else {
            for (std::size_t j = 0; j < have.size(); ++j)
                if (reach[j] && LevelMatches(level, have[j])) next[j + 1] = 1;
        }
        reach.swap(next);
    }
    return reach[have.size()] != 0;
}

Selection Select(const std::vector<std::string>& patterns, const std::vector<std::string>& innerPaths) {
    Selection selection;
    selection.selected.assign(innerPaths.size(), patterns.empty());
    for (const std::string& pattern : patterns) {
        bool any = false;
        for (std::size_t i = 0; i < innerPaths.size(); ++i) {
            if (MatchesPattern(pattern, innerPaths[i])) {
                selection.selected[i] = true;
                any = true;
            }
        }
        if (!any) selection.unmatched.push_back(pattern);
    }
    return selection;
}

}  // namespace vexmor::cli
