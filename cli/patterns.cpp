#include "cli/patterns.h"

#include <cstdint>
#include <optional>
#include <unordered_map>

namespace vexmor::cli {

namespace {

std::vector<std::string_view> Levels(std::string_view text) {
    std::vector<std::string_view> levels;
    std::size_t begin = 0;
    for (;;) {
        const std::size_t end = text.find('/', begin);
        levels.push_back(text.substr(begin, end == std::string_view::npos ? std::string_view::npos : end - begin));
        if (end == std::string_view::npos) return levels;
        begin = end + 1;
    }
}

// One character of UTF-8 at the front of `text`: its code point and length.
// A byte that starts no valid sequence is a character of its own, valued
// above every code point, so that names that are no UTF-8 still match.
struct Character {
    std::uint32_t code;
    std::size_t length;
};

constexpr std::uint32_t kByteBase = 0x110000;

Character CharacterAt(std::string_view text, std::size_t pos) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[pos + i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return {lead, 1};
    std::size_t length = 0;
    std::uint32_t code = 0;
    std::uint32_t least = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, code = lead & 0x1Fu, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, code = lead & 0x0Fu, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, code = lead & 0x07u, least = 0x10000;
    } else {
        return {kByteBase + lead, 1};
    }
    if (text.size() - pos < length) return {kByteBase + lead, 1};
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0u) != 0x80u) return {kByteBase + lead, 1};
        code = code << 6 | (byte(i) & 0x3Fu);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return {kByteBase + lead, 1};
    return {code, length};
}

// The POSIX class `name` ("alpha", ...) holds `code`; ASCII only, as in the C
// locale. Nullopt for a name that is no class.
std::optional<bool> InNamedClass(std::string_view name, std::uint32_t code) {
    const bool ascii = code < 0x80;
    const auto c = static_cast<char>(code);
    const bool upper = ascii && c >= 'A' && c <= 'Z';
    const bool lower = ascii && c >= 'a' && c <= 'z';
    const bool digit = ascii && c >= '0' && c <= '9';
    const bool graph = ascii && code > 0x20 && code < 0x7F;
    if (name == "alpha") return upper || lower;
    if (name == "digit") return digit;
    if (name == "alnum") return upper || lower || digit;
    if (name == "upper") return upper;
    if (name == "lower") return lower;
    if (name == "space") return ascii && (c == ' ' || (c >= '\t' && c <= '\r'));
    if (name == "blank") return ascii && (c == ' ' || c == '\t');
    if (name == "punct") return graph && !upper && !lower && !digit;
    if (name == "print") return graph || code == 0x20;
    if (name == "graph") return graph;
    if (name == "cntrl") return ascii && (code < 0x20 || code == 0x7F);
    if (name == "xdigit") return digit || (ascii && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
    return std::nullopt;
}

// The bracket expression starting at `pattern[open]` ('['): whether it holds
// `code`, and the position after its ']'. Nullopt when it is not closed, and
// then the '[' is an ordinary character, as fnmatch takes it.
struct BracketResult {
    bool holds;
    std::size_t end;
};

std::optional<BracketResult> MatchBracket(std::string_view pattern, std::size_t open, std::uint32_t code) {
    std::size_t pos = open + 1;
    bool negated = false;
    if (pos < pattern.size() && (pattern[pos] == '!' || pattern[pos] == '^')) {
        negated = true;
        ++pos;
    }
    bool holds = false;
    bool first = true;
    while (pos < pattern.size()) {
        if (pattern[pos] == ']' && !first) return BracketResult{holds != negated, pos + 1};
        first = false;
        if (pattern.substr(pos, 2) == "[:") {
            const std::size_t close = pattern.find(":]", pos + 2);
            if (close != std::string_view::npos) {
                if (const std::optional<bool> in = InNamedClass(pattern.substr(pos + 2, close - pos - 2), code)) {
                    holds = holds || *in;
                    pos = close + 2;
                    continue;
                }
            }
        }
        if (pattern[pos] == '\\' && pos + 1 < pattern.size()) ++pos;
        const Character low = CharacterAt(pattern, pos);
        pos += low.length;
        std::uint32_t high = low.code;
        if (pos + 1 < pattern.size() && pattern[pos] == '-' && pattern[pos + 1] != ']') {
            std::size_t at = pos + 1;
            if (pattern[at] == '\\' && at + 1 < pattern.size()) ++at;
            const Character last = CharacterAt(pattern, at);
            high = last.code;
            pos = at + last.length;
        }
        if (low.code <= code && code <= high) holds = true;
    }
    return std::nullopt;
}

// One level of a name against one level of a pattern, character by
// character of UTF-8. A '*' that fails is retried one character further on,
// back to the last '*' only: time grows with the product of the lengths at
// most, never exponentially.
bool LevelMatches(std::string_view pattern, std::string_view level) {
    // fnmatch's rule, kept: a NUL byte matches only a pattern level equal to it.
    if (pattern.find('\0') != std::string_view::npos || level.find('\0') != std::string_view::npos)
        return pattern == level;
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t starP = std::string_view::npos;
    std::size_t starN = 0;
    while (n < level.size()) {
        bool advanced = false;
        if (p < pattern.size()) {
            const char c = pattern[p];
            if (c == '*') {
                starP = ++p;
                starN = n;
                continue;
            }
            const Character have = CharacterAt(level, n);
            if (c == '?') {
                ++p;
                n += have.length;
                advanced = true;
            } else if (c == '[') {
                if (const std::optional<BracketResult> bracket = MatchBracket(pattern, p, have.code)) {
                    if (bracket->holds) {
                        p = bracket->end;
                        n += have.length;
                        advanced = true;
                    }
                } else if (level[n] == '[') {
                    ++p;
                    ++n;
                    advanced = true;
                }
            } else {
                const std::size_t at = c == '\\' && p + 1 < pattern.size() ? p + 1 : p;
                const Character want = CharacterAt(pattern, at);
                if (want.code == have.code) {
                    p = at + want.length;
                    n += have.length;
                    advanced = true;
                }
            }
        }
        if (advanced) continue;
        if (starP == std::string_view::npos) return false;
        p = starP;
        starN += CharacterAt(level, starN).length;
        n = starN;
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

// A pattern without '*', '?', '[' or '\' matches only the name equal to it.
bool IsExactName(std::string_view pattern) { return pattern.find_first_of("*?[\\") == std::string_view::npos; }

}  // namespace

bool MatchesPattern(std::string_view pattern, std::string_view innerPath) {
    const std::vector<std::string_view> want = Levels(pattern);
    const std::vector<std::string_view> have = Levels(innerPath);
    // reach[j]: the first i levels of the pattern match the first j of the
    // name. One row per pattern level: no backtracking, so no pattern makes
    // this slow on a deep name.
    std::vector<char> reach(have.size() + 1, 0);
    reach[0] = 1;
    for (std::size_t i = 0; i < want.size(); ++i) {
        const std::string_view level = want[i];
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
    // Exact names are looked up rather than matched against every name:
    // thousands of them (a list of names given to xargs) stay cheap.
    std::unordered_multimap<std::string_view, std::size_t> byName;
    for (const std::string& pattern : patterns) {
        if (!IsExactName(pattern)) continue;
        byName.reserve(innerPaths.size());
        for (std::size_t i = 0; i < innerPaths.size(); ++i) byName.emplace(innerPaths[i], i);
        break;
    }
    for (const std::string& pattern : patterns) {
        bool any = false;
        if (IsExactName(pattern)) {
            const auto [first, last] = byName.equal_range(pattern);
            for (auto found = first; found != last; ++found) selection.selected[found->second] = true;
            any = first != last;
        } else {
            for (std::size_t i = 0; i < innerPaths.size(); ++i) {
                if (MatchesPattern(pattern, innerPaths[i])) {
                    selection.selected[i] = true;
                    any = true;
                }
            }
        }
        if (!any) selection.unmatched.push_back(pattern);
    }
    return selection;
}

}  // namespace vexmor::cli
