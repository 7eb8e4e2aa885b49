// Selection of items by shell patterns, for list and extract.
//
// A pattern is matched against an item's inner path and name as list shows
// it ("html/a.htm", "#SYSTEM"), level by level (levels split at '/'):
// each level of the pattern is an fnmatch(3) pattern for one level of the
// name, taken in characters of UTF-8 ('*' and '?' never match '/', '?' is
// one character however many bytes it takes, "[...]" classes and ranges of
// code points, "[:alpha:]" and the other classes of ASCII, '\' quotes the
// next character, a leading '.' is nothing special), and a level that is exactly
// "**" matches any number of levels, none included ("**/*.html": every
// .html file at any depth), and at least one when it ends the pattern
// ("html/**": everything below html, not a stream named html).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vexmor::cli {

bool MatchesPattern(std::string_view pattern, std::string_view innerPath);

// Which of a list of inner names the patterns select, and which patterns
// select none of them.
struct Selection {
    std::vector<bool> selected;               // one per name; all true without patterns
    std::vector<std::string> unmatched;       // patterns that matched no name, in the order given
};

Selection Select(const std::vector<std::string>& patterns, const std::vector<std::string>& innerPaths);

}  // namespace vexmor::cli
