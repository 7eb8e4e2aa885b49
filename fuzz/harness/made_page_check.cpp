#include "fuzz/harness/made_page_check.h"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "fuzz/harness/run_limits.h"
#include "site/site_names.h"
#include "site/utf8_decoder.h"

namespace vexmor::fuzz {

namespace {

// Every tag the made pages are built of; the first three have no end tag.
constexpr std::array<std::string_view, 3> kVoidTags{"meta", "link", "input"};
constexpr std::array<std::string_view, 17> kTags{"html", "head",    "title",   "body", "header", "h1",
                                                 "nav",  "a",       "div",     "iframe", "script", "ul",
                                                 "li",   "details", "summary", "span", "p"};

bool IsOneOf(std::string_view name, auto&& names) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

constexpr std::array<std::pair<std::string_view, char>, 5> kEntities{
    {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&#39;", '\''}}};

// Whether every '&' of `text` begins one of the references the pages write.
bool AmpersandsEscaped(std::string_view text) {
    for (std::size_t at = text.find('&'); at != std::string_view::npos; at = text.find('&', at + 1)) {
        bool known = false;
        for (const auto& entity : kEntities) known |= text.substr(at).starts_with(entity.first);
        if (!known) return false;
    }
    return true;
}

std::string Unescaped(std::string_view value) {
    std::string out;
    for (std::size_t i = 0; i < value.size();) {
        bool replaced = false;
        if (value[i] == '&') {
            for (const auto& [entity, c] : kEntities) {
                if (value.substr(i).starts_with(entity)) {
                    out += c;
                    i += entity.size();
                    replaced = true;
                    break;
                }
            }
            // The pages write no other reference: a bare '&' is a name's own, unescaped.
            if (!replaced) Broken("made page: a bare '&' in an attribute value: " + std::string(value));
        } else {
            out += value[i++];
        }
    }
    return out;
}

// "." or ".." as a browser reads a level, "%2e" being a dot too.
int DotLevel(std::string_view level) {
    std::string folded = site::FoldCase(level);
    for (std::size_t at; (at = folded.find("%2e")) != std::string::npos;) folded.replace(at, 3, ".");
    if (folded == ".") return 1;
    if (folded == "..") return 2;
    return 0;
}

bool StartsWithFolded(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && site::FoldCase(text.substr(0, prefix.size())) == prefix;
}

}  // namespace

bool IsSafeMadeLink(std::string_view link) {
    // Only printable ASCII: a browser drops tabs and line breaks inside a
    // link, which could join "java" and "script:".
    for (const char c : link)
        if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7F) return false;
    // A browser reads "https:/x" or "http:x" as a web address too.
    for (const std::string_view scheme : {"http:", "https:", "mailto:", "ftp:"})
        if (StartsWithFolded(link, scheme)) return true;
    if (link.empty()) return false;
    // Any other scheme ("javascript:", "file:", "c:"): letters before a ':'
    // that comes ahead of every '/', '?' and '#'.
    const std::size_t colon = link.find(':');
    if (colon != std::string_view::npos && colon < link.find_first_of("/\\?#")) return false;
    if (link.front() == '/' || link.front() == '\\') return false;
    const std::string_view path = link.substr(0, std::min(link.size(), link.find_first_of("?#")));
    std::vector<std::string_view> levels;
    for (std::size_t start = 0;;) {
        const std::size_t end = std::min(path.size(), path.find_first_of("/\\", start));
        levels.push_back(path.substr(start, end - start));
        if (end == path.size()) break;
        start = end + 1;
    }
    std::size_t first = 0;
    // A page of another help file: up once, into the folder named after it.
    if (DotLevel(levels[0]) == 2) {
        if (levels.size() < 3 || levels[1].empty() || DotLevel(levels[1]) != 0) return false;
        first = 2;
    }
    std::size_t depth = 0;
    for (std::size_t i = first; i < levels.size(); ++i) {
        const int dots = DotLevel(levels[i]);
        if (dots == 2) {
            if (depth == 0) return false;
            --depth;
        } else if (dots == 0 && !levels[i].empty() && i + 1 < levels.size()) {
            ++depth;
        }
    }
    return true;
}

void CheckMadePage(std::string_view html, const char* what) {
    const auto broken = [&](const std::string& why, std::size_t at) {
        const std::size_t from = at > 60 ? at - 60 : 0;
        Broken(std::string(what) + ": " + why + " at byte " + std::to_string(at) + ", near: " +
               std::string(html.substr(from, 120)));
    };
    if (!site::IsUtf8(html)) broken("not UTF-8", 0);
    std::vector<std::string> open;
    std::size_t i = 0;
    const std::string_view doctype = "<!DOCTYPE html>\n";
    if (!html.starts_with(doctype)) broken("no doctype", 0);
    i = doctype.size();
    while (i < html.size()) {
        const std::size_t lt = html.find('<', i);
        const std::string_view text = html.substr(i, std::min(html.size(), lt) - i);
        if (text.find('>') != std::string_view::npos) broken("a raw '>' in text", i);
        if (!AmpersandsEscaped(text)) broken("a bare '&' in text", i);
        if (lt == std::string_view::npos) break;
        i = lt + 1;
        const bool closing = i < html.size() && html[i] == '/';
        if (closing) ++i;
        std::size_t nameEnd = i;
        while (nameEnd < html.size() && ((html[nameEnd] >= 'a' && html[nameEnd] <= 'z') ||
                                          (html[nameEnd] >= '0' && html[nameEnd] <= '9')))
            ++nameEnd;
        const std::string name(html.substr(i, nameEnd - i));
        if (!IsOneOf(name, kTags) && !IsOneOf(name, kVoidTags)) broken("a tag the pages do not make: <" + name, lt);
        i = nameEnd;
        if (closing) {
            if (open.empty() || open.back() != name) broken("</" + name + "> closes what is not open", lt);
            open.pop_back();
            if (i >= html.size() || html[i] != '>') broken("an end tag with more in it", lt);
            ++i;
            continue;
        }
        // Attributes: name, or name="value" with no '<' or '"' in the value.
        for (;;) {
            if (i >= html.size()) broken("a tag left open", lt);
            if (html[i] == '>') break;
            if (html[i] != ' ') broken("a tag with bytes the pages do not write", i);
            ++i;
            const std::size_t attributeStart = i;
            while (i < html.size() && ((html[i] >= 'a' && html[i] <= 'z') || html[i] == '-')) ++i;
            const std::string_view attribute = html.substr(attributeStart, i - attributeStart);
            if (attribute.empty()) broken("an attribute without a name", i);
            if (i < html.size() && html[i] == '=') {
                if (i + 1 >= html.size() || html[i + 1] != '"') broken("an unquoted value", i);
                const std::size_t valueStart = i + 2;
                const std::size_t close = html.find('"', valueStart);
                if (close == std::string_view::npos) broken("a value left open", i);
                const std::string_view value = html.substr(valueStart, close - valueStart);
                if (value.find('<') != std::string_view::npos) broken("a raw '<' in a value", valueStart);
                if (!AmpersandsEscaped(value)) broken("a bare '&' in a value", valueStart);
                if (attribute == "href" || attribute == "src") {
                    const std::string link = Unescaped(value);
                    const bool blank = name == "iframe" && link == "about:blank";
                    if (!blank && !IsSafeMadeLink(link)) broken("a link that may not be made: " + link, valueStart);
                }
                i = close + 1;
            }
        }
        ++i;
        if (!IsOneOf(name, kVoidTags)) open.push_back(name);
    }
    if (!open.empty()) broken("<" + open.back() + "> never closed", html.size());
}

}  // namespace vexmor::fuzz
