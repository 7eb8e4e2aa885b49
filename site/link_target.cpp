#include "site/link_target.h"

#include <vector>

#include "catalogue/path_delim.h"

namespace vexmor::site {

namespace {

bool StartsWithFolded(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && FoldCase(text.substr(0, prefix.size())) == prefix;
}

bool IsAsciiAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The length of "scheme:" at the start of `link`, 0 when there is none.
std::size_t SchemeLength(std::string_view link) {
    if (link.empty() || !IsAsciiAlpha(link[0])) return 0;
    for (std::size_t i = 1; i < link.size(); ++i) {
        const char c = link[i];
        if (c == ':') return i + 1;
        if (!IsAsciiAlpha(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') return 0;
    }
    return 0;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string PercentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The levels of `path` below `base` (both relative to the site's root),
// with "." and ".." taken away; false when ".." climbs above the root or a
// level is not a plain name.
bool NormalLevels(std::string_view base, std::string_view path, std::vector<std::string>& levels) {
    levels.clear();
    const auto add = [&](std::string_view text) {
        std::size_t start = 0;
        while (start <= text.size()) {
            std::size_t end = text.find(kPathDelim, start);
            if (end == std::string_view::npos) end = text.size();
            const std::string_view level = text.substr(start, end - start);
            if (level == "..") {
                if (levels.empty()) return false;
                levels.pop_back();
            } else if (!level.empty() && level != ".") {
                if (level.find('\0') != std::string_view::npos) return false;
                levels.emplace_back(level);
            }
            start = end + 1;
        }
        return true;
    };
    if (!path.starts_with(kPathDelim) && !add(base)) return false;
    return add(path);
}

// `target` (levels from the root) as a link from a page in `from`.
std::string RelativeLink(std::string_view from, std::string_view target) {
    std::vector<std::string> fromLevels;
    NormalLevels("", from, fromLevels);
    std::vector<std::string> targetLevels;
    NormalLevels("", target, targetLevels);
    std::size_t common = 0;
    // The last level of the target is a file, never a folder to share.
    while (common < fromLevels.size() && common + 1 < targetLevels.size() &&
           fromLevels[common] == targetLevels[common])
        ++common;
    std::string link;
    for (std::size_t i = common; i < fromLevels.size(); ++i) link += "../";
    for (std::size_t i = common; i < targetLevels.size(); ++i) {
        if (i > common) link += kPathDelim;
        link += PercentEncode(targetLevels[i]);
    }
    return link;
}

std::string Joined(const std::vector<std::string>& levels) {
    std::string path;
    for (const std::string& level : levels) {
        if (!path.empty()) path += kPathDelim;
        path += level;
    }
    return path;
}

// Whether `text` needs rewriting for a browser: a '\', a byte outside
// ASCII or a space.
bool NeedsEncoding(std::string_view text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80 || byte <= 0x20 || c == '\\') return true;
    }
    return false;
}

}  // namespace

std::string PercentEncode(std::string_view text, bool keepQueryCharacters) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                           (byte >= '0' && byte <= '9') || c == '-' || c == '.' || c == '_' || c == '~' ||
                           c == '!' || c == '$' || c == '&' || c == '*' || c == '+' || c == ',' || c == ';' || c == '=' || c == '@' ||
                           (keepQueryCharacters && (c == '/' || c == '?' || c == '#' || c == '%'));
        if (plain) {
            out += c;
        } else {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        }
    }
    return out;
}

std::string SiteFolderNameOf(std::string_view helpFileName) {
    const std::size_t slash = helpFileName.find_last_of("/\\");
    std::string_view name = slash == std::string_view::npos ? helpFileName : helpFileName.substr(slash + 1);
    if (const std::size_t dot = name.rfind('.'); dot != std::string_view::npos && dot > 0) name = name.substr(0, dot);
    if (name.empty() || name == "." || name == ".." || name.find('\0') != std::string_view::npos) return {};
    return std::string(name);
}

LinkTarget ResolveLink(std::string_view link, const LinkContext& context) {
    LinkTarget result;
    // Browsers drop the spaces around a link; so does the comparison here.
    while (!link.empty() && (link.front() == ' ' || link.front() == '\t' || link.front() == '\n' ||
                             link.front() == '\r' || link.front() == '\f'))
        link.remove_prefix(1);
    while (!link.empty() && (link.back() == ' ' || link.back() == '\t' || link.back() == '\n' ||
                             link.back() == '\r' || link.back() == '\f'))
        link.remove_suffix(1);
    if (link.empty() || link.starts_with('#') || link.starts_with("//") || link.starts_with("\\\\")) return result;

    // Into which help file, and the path inside it.
    bool helpScheme = false;
    std::string otherFile;
    std::string_view rest = link;
    for (const std::string_view scheme : {std::string_view("ms-its:"), std::string_view("mk:@msitstore:"),
                                          std::string_view("its:")}) {
        if (!StartsWithFolded(link, scheme)) continue;
        helpScheme = true;
        rest = link.substr(scheme.size());
        const std::size_t separator = rest.find("::");
        if (separator == std::string_view::npos) {
            result.kind = LinkTarget::Kind::Missing;
            result.href = std::string(link);
            return result;
        }
        std::string_view file = rest.substr(0, separator);
        if (const std::size_t slash = file.find_last_of("/\\"); slash != std::string_view::npos)
            file = file.substr(slash + 1);
        rest = rest.substr(separator + 2);
        if (!file.empty() && FoldCase(file) != FoldCase(context.helpFileName)) {
            otherFile = SiteFolderNameOf(file);
            if (otherFile.empty()) {
                result.kind = LinkTarget::Kind::Missing;
                result.href = std::string(link);
                return result;
            }
        }
        break;
    }
    if (!helpScheme) {
        const std::size_t scheme = SchemeLength(link);
        if (scheme > 0) {
            const std::string name = FoldCase(link.substr(0, scheme));
            if (name == "http:" || name == "https:" || name == "mailto:" || name == "ftp:")
                result.kind = LinkTarget::Kind::External;
            return result;
        }
    }

    // The path and what follows it (query, fragment), which stays as written.
    std::size_t suffixAt = rest.find_first_of("#?");
    if (suffixAt == std::string_view::npos) suffixAt = rest.size();
    std::string path(rest.substr(0, suffixAt));
    const std::string_view suffix = rest.substr(suffixAt);
    for (char& c : path)
        if (c == '\\') c = kPathDelim;
    // A help-scheme path is written from the root of its file.
    if (helpScheme && !path.starts_with(kPathDelim)) path.insert(path.begin(), kPathDelim);
    const std::string decoded = PercentDecode(path);

    std::vector<std::string> levels;
    const bool inside = NormalLevels(helpScheme ? std::string_view() : std::string_view(context.pageFolder),
                                     decoded, levels);
    const std::string encodedSuffix = PercentEncode(suffix, true);
    if (!otherFile.empty()) {
        if (!inside || levels.empty()) {
            result.kind = LinkTarget::Kind::Missing;
            result.href = std::string(link);
            return result;
        }
        // Up to the root of this site, up once more, then into the other one.
        std::string href;
        std::vector<std::string> fromLevels;
        NormalLevels("", context.pageFolder, fromLevels);
        for (std::size_t i = 0; i <= fromLevels.size(); ++i) href += "../";
        href += PercentEncode(otherFile);
        for (const std::string& level : levels) href += "/" + PercentEncode(level);
        result.kind = LinkTarget::Kind::OtherFile;
        result.href = href + encodedSuffix;
        result.changed = true;
        return result;
    }
    const std::optional<std::string_view> stored =
        inside && !levels.empty() && context.names ? context.names->Find(Joined(levels)) : std::nullopt;
    if (!stored) {
        result.kind = LinkTarget::Kind::Missing;
        std::string written(link);
        for (char& c : written)
            if (c == '\\') c = kPathDelim;
        result.href = written;
        result.changed = written != link;
        return result;
    }
    result.kind = LinkTarget::Kind::InFile;
    result.stored = std::string(*stored);
    result.suffix = encodedSuffix;
    // A link already right stays as written, byte for byte.
    if (!helpScheme && !NeedsEncoding(link) && !link.starts_with(kPathDelim) && *stored == Joined(levels)) {
        result.href = std::string(link);
        return result;
    }
    result.href = RelativeLink(context.pageFolder, *stored) + encodedSuffix;
    result.changed = result.href != link;
    return result;
}

}  // namespace vexmor::site
