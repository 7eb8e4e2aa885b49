#include "epub/book_links.h"

#include "site/link_target.h"

namespace vexmor::epub {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string PercentDecoded(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
            HexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool IsNameStart(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool IsNameByte(char c) { return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.'; }

// A web address as a reader may follow it: printable ASCII only.
bool IsPlainAddress(std::string_view link) {
    for (const char c : link)
        if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7F || c == '"' || c == '<' ||
            c == '>' || c == '\\' || c == '^' || c == '`' || c == '{' || c == '|' || c == '}')
            return false;
    return true;
}

bool Allowed(const BookResource& target, LinkUse use) {
    switch (use) {
        case LinkUse::Hyperlink: return target.type.kind == ResourceKind::Page;
        case LinkUse::Image:
        case LinkUse::Background: return target.type.kind == ResourceKind::Image;
        case LinkUse::StyleSheet: return target.type.kind == ResourceKind::StyleSheet;
    }
    return false;
}

}  // namespace

std::string IdName(std::string_view id) {
    bool plain = !id.empty() && IsNameStart(id[0]);
    for (const char c : id) plain = plain && IsNameByte(c);
    if (plain) return std::string(id);
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out = "_-";
    for (const char c : id) {
        if (IsNameByte(c) && c != '_') {
            out += c;
        } else {
            const auto byte = static_cast<unsigned char>(c);
            out += '_';
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        }
    }
    return out;
}

namespace {

// Browsers drop the blanks and control bytes around a link.
std::string_view Trimmed(std::string_view link) {
    while (!link.empty() && static_cast<unsigned char>(link.front()) <= 0x20) link.remove_prefix(1);
    while (!link.empty() && static_cast<unsigned char>(link.back()) <= 0x20) link.remove_suffix(1);
    return link;
}

std::string_view FolderOf(const BookResource& page) {
    const std::size_t slash = page.stored.rfind('/');
    return slash == std::string::npos ? std::string_view() : std::string_view(page.stored).substr(0, slash);
}

// Entries kept at most; the memo starts over beyond. An entry takes about
// 300 bytes, and each thread that drafts has a memo: of lcl.chm's 748 193
// links, 4096 entries miss 138 405, four times as many 6 463 fewer.
constexpr std::size_t kMemoEntries = 4096;

}  // namespace

std::optional<BookLink> BookLinks::Resolve(std::string_view link, const BookResource& from, LinkUse use) const {
    const std::string_view trimmed = Trimmed(link);
    if (trimmed.empty()) return std::nullopt;
    if (trimmed.front() == '#') {
        if (use != LinkUse::Hyperlink || trimmed.size() == 1) return std::nullopt;
        return BookLink{&from, IdName(PercentDecoded(trimmed.substr(1))), {}};
    }
    return ResolveIn(trimmed, FolderOf(from), use);
}

std::optional<BookLink> BookLinks::Resolve(std::string_view link, const BookResource& from, LinkUse use,
                                           LinkMemo& memo) const {
    const std::string_view trimmed = Trimmed(link);
    // A bare fragment leads into `from` itself: nothing worth keeping.
    if (trimmed.empty() || trimmed.front() == '#') return Resolve(trimmed, from, use);
    const std::string_view folder = FolderOf(from);
    std::string& key = memo.key_;
    key.assign(folder);
    key += '\0';
    key += static_cast<char>('0' + static_cast<int>(use));
    key += trimmed;
    if (const auto known = memo.resolved_.find(key); known != memo.resolved_.end()) return known->second;
    std::optional<BookLink> resolved = ResolveIn(trimmed, folder, use);
    if (memo.resolved_.size() >= kMemoEntries) memo.resolved_.clear();
    memo.resolved_.emplace(key, resolved);
    return resolved;
}

std::optional<BookLink> BookLinks::ResolveIn(std::string_view trimmed, std::string_view folder, LinkUse use) const {
    const site::LinkContext context{&names_, std::string(folder), helpFileName_};
    const site::LinkTarget target = site::ResolveLink(trimmed, context);
    if (target.kind == site::LinkTarget::Kind::External) {
        if (use != LinkUse::Hyperlink || !IsPlainAddress(trimmed)) return std::nullopt;
        return BookLink{nullptr, {}, std::string(trimmed)};
    }
    if (target.kind != site::LinkTarget::Kind::InFile) return std::nullopt;
    const BookResource* resource = book_.Find(target.stored);
    if (resource == nullptr || !Allowed(*resource, use)) return std::nullopt;
    BookLink result{resource, {}, {}};
    if (const std::size_t hash = target.suffix.find('#'); hash != std::string::npos && use == LinkUse::Hyperlink &&
                                                          hash + 1 < target.suffix.size())
        result.fragment = IdName(PercentDecoded(std::string_view(target.suffix).substr(hash + 1)));
    return result;
}

std::string BookLinks::Href(const BookLink& link, std::string_view from) {
    if (link.target == nullptr) return link.web;
    std::string href = link.target->entry == from && !link.fragment.empty() ? std::string()
                                                                            : RelativeHref(from, link.target->entry);
    if (!link.fragment.empty()) href += "#" + site::PercentEncode(link.fragment);
    return href;
}

}  // namespace vexmor::epub
