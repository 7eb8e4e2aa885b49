#include "epub/book_names.h"

#include <cstdint>
#include <unordered_set>

#include "catalogue/inner_name.h"
#include "site/link_target.h"
#include "site/site_names.h"

namespace vexmor::epub {

namespace {

struct ExtensionRow {
    std::string_view extension;
    MediaType type;
};

constexpr ExtensionRow kExtensions[] = {
    {".htm", {ResourceKind::Page, "application/xhtml+xml"}},
    {".html", {ResourceKind::Page, "application/xhtml+xml"}},
    {".xhtml", {ResourceKind::Page, "application/xhtml+xml"}},
    {".shtml", {ResourceKind::Page, "application/xhtml+xml"}},
    {".hta", {ResourceKind::Page, "application/xhtml+xml"}},
    {".css", {ResourceKind::StyleSheet, "text/css"}},
    {".gif", {ResourceKind::Image, "image/gif"}},
    {".jpg", {ResourceKind::Image, "image/jpeg"}},
    {".jpeg", {ResourceKind::Image, "image/jpeg"}},
    {".jpe", {ResourceKind::Image, "image/jpeg"}},
    {".png", {ResourceKind::Image, "image/png"}},
    {".ttf", {ResourceKind::Font, "font/ttf"}},
    {".otf", {ResourceKind::Font, "font/otf"}},
    {".woff", {ResourceKind::Font, "font/woff"}},
    {".woff2", {ResourceKind::Font, "font/woff2"}},
    {".mp3", {ResourceKind::Audio, "audio/mpeg"}},
};

// The code point at `at` of `text` and its length in bytes; length 0 when
// the bytes there are no UTF-8.
std::pair<std::uint32_t, std::size_t> CodePointAt(std::string_view text, std::size_t at) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte < 0x80) return {byte, 1};
    std::size_t length = 0;
    std::uint32_t value = 0;
    if (byte >= 0xC2 && byte <= 0xDF) length = 2, value = byte & 0x1Fu;
    else if (byte >= 0xE0 && byte <= 0xEF) length = 3, value = byte & 0x0Fu;
    else if (byte >= 0xF0 && byte <= 0xF4) length = 4, value = byte & 0x07u;
    else return {0, 0};
    if (text.size() - at < length) return {0, 0};
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) return {0, 0};
        value = (value << 6) | (next & 0x3Fu);
    }
    const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < least[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return {0, 0};
    return {value, length};
}

bool RefusedCodePoint(std::uint32_t c) {
    if (c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F)) return true;
    if (c == '"' || c == '*' || c == ':' || c == '<' || c == '>' || c == '?' || c == '\\' || c == '|') return true;
    if (c >= 0xE000 && c <= 0xF8FF) return true;                          // private use
    if ((c >= 0xFDD0 && c <= 0xFDEF) || (c & 0xFFFE) == 0xFFFE) return true;  // non-characters
    if (c >= 0xFFF0 && c <= 0xFFFF) return true;                          // specials
    if (c >= 0xE0000) return true;                                        // tags, private use planes
    return false;
}

std::string WithSuffix(const std::string& entry, int number) {
    const std::size_t slash = entry.rfind('/');
    const std::size_t dot = entry.rfind('.');
    const std::size_t at = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1) ? dot : entry.size();
    return entry.substr(0, at) + "-" + std::to_string(number) + entry.substr(at);
}

}  // namespace

MediaType MediaTypeOf(std::string_view name) {
    const std::string folded = site::FoldCase(name);
    for (const ExtensionRow& row : kExtensions)
        if (folded.ends_with(row.extension)) return row.type;
    return {};
}

std::string OcfLevel(std::string_view level) {
    std::string out;
    out.reserve(level.size());
    std::size_t at = 0;
    while (at < level.size()) {
        const auto [code, length] = CodePointAt(level, at);
        if (length == 0 || RefusedCodePoint(code)) {
            out += '_';
            at += length == 0 ? 1 : length;
        } else {
            out.append(level.substr(at, length));
            at += length;
        }
    }
    if (out.empty() || out.back() == '.') out += '_';
    return out;
}

BookNames::BookNames(const TChmItems& items, const std::vector<std::size_t>& order) {
    resources_.reserve(order.size());
    // Hashes of the entry names taken, in lower case: names that differ in
    // case only may not stand side by side in the container. A hash met
    // twice by chance only numbers a name that needed none.
    std::unordered_set<std::uint64_t> taken;
    const auto hashOf = [](const std::string& name) {
        std::uint64_t hash = 1469598103934665603ull;
        for (const char c : name) {
            const char folded = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
            hash = (hash ^ static_cast<unsigned char>(folded)) * 1099511628211ull;
        }
        return hash;
    };
    for (const std::size_t index : order) {
        const TChmItem& item = items[index];
        const MediaType type = MediaTypeOf(item.Name);
        if (type.kind == ResourceKind::LeftOut || site::IsBookkeeping(item)) continue;
        std::string stored = InnerPathAndName(item.Path, item.Name);
        if (byStored_.count(stored) != 0) continue;
        std::string entry(kContentFolder);
        std::size_t start = 0;
        while (start <= stored.size()) {
            std::size_t end = stored.find('/', start);
            if (end == std::string::npos) end = stored.size();
            if (start > 0) entry += '/';
            entry += OcfLevel(std::string_view(stored).substr(start, end - start));
            start = end + 1;
        }
        // Reading systems know a page by its extension.
        if (type.kind == ResourceKind::Page && !site::FoldCase(entry).ends_with(".xhtml")) {
            const std::size_t dot = entry.rfind('.');
            if (dot != std::string::npos && dot > entry.rfind('/') + 1) entry.resize(dot);
            entry += ".xhtml";
        }
        std::string unique = entry;
        for (int number = 2; taken.count(hashOf(unique)) != 0; ++number) unique = WithSuffix(entry, number);
        taken.insert(hashOf(unique));
        resources_.push_back(
            BookResource{index, std::move(stored), std::move(unique), type, "r" + std::to_string(resources_.size())});
        resources_.back().entry.shrink_to_fit();
        byStored_.emplace(resources_.back().stored, resources_.size() - 1);
    }
}

const BookResource* BookNames::Find(std::string_view stored) const {
    const auto found = byStored_.find(stored);
    return found == byStored_.end() ? nullptr : &resources_[found->second];
}

std::string RelativeHref(std::string_view from, std::string_view to) {
    std::size_t common = 0;
    // Shared folders: up to the last '/' both have in the same place.
    for (std::size_t i = 0; i < from.size() && i < to.size() && from[i] == to[i]; ++i)
        if (from[i] == '/') common = i + 1;
    std::string href;
    for (std::size_t i = common; i < from.size(); ++i)
        if (from[i] == '/') href += "../";
    std::size_t start = common;
    while (start <= to.size()) {
        std::size_t end = to.find('/', start);
        if (end == std::string_view::npos) end = to.size();
        if (start > common) href += '/';
        href += site::PercentEncode(to.substr(start, end - start));
        start = end + 1;
    }
    return href;
}

}  // namespace vexmor::epub
