#include "site/site_names.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "catalogue/inner_name.h"
#include "catalogue/path_delim.h"

namespace vexmor::site {

std::string FoldCase(std::string_view text) {
    std::string folded(text);
    for (char& c : folded)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return folded;
}



bool MatchesFoldedAt(std::string_view text, std::size_t at, std::string_view word) {
    if (at > text.size() || text.size() - at < word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        char c = text[at + i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != word[i]) return false;
    }
    return true;
}

bool IsBookkeeping(const TChmItem& item) {
    const std::string_view first = item.Path.empty() ? std::string_view(item.Name) : std::string_view(item.Path);
    return first.starts_with('#') || first.starts_with('$') || first.starts_with("::");
}

SiteNames::SiteNames(const TChmItems& items) {
    paths_.reserve(items.Count());
    foldedPaths_.reserve(items.Count());
    exact_.reserve(items.Count());
    folded_.reserve(items.Count());
    for (std::size_t i = 0; i < items.Count(); ++i) {
        const TChmItem& item = items[i];
        if (IsBookkeeping(item)) continue;
        const std::string& path = paths_.emplace_back(InnerPathAndName(item.Path, item.Name));
        const std::string& folded = foldedPaths_.emplace_back(FoldCase(path));
        folded_.try_emplace(folded, path);
        exact_.insert(path);
        AddWords(item.Name, false);
        std::size_t start = 0;
        while (start < item.Path.size()) {
            std::size_t end = item.Path.find(kPathDelim, start);
            if (end == std::string::npos) end = item.Path.size();
            AddWords(std::string_view(item.Path).substr(start, end - start), true);
            start = end + 1;
        }
    }
}

void SiteNames::AddWords(std::string_view level, bool folder) {
    std::size_t i = 0;
    while (i < level.size()) {
        if (!IsWordByte(static_cast<unsigned char>(level[i]))) {
            namesAreWords_ = false;
            ++i;
            continue;
        }
        const std::size_t start = i;
        while (i < level.size() && IsWordByte(static_cast<unsigned char>(level[i]))) ++i;
        const std::string word(level.substr(start, i - start));
        // In a link, only the last word of a folder's level comes before '/'.
        if (folder && i == level.size()) {
            folderWords_.Add(word);
        } else {
            (word.find('.') == std::string::npos ? plainNameWords_ : nameWords_).Add(word);
        }
    }
}

std::optional<std::string_view> SiteNames::Find(std::string_view path) const {
    if (const auto exact = exact_.find(path); exact != exact_.end()) return *exact;
    if (const auto folded = folded_.find(FoldCase(path)); folded != folded_.end()) return folded->second;
    return std::nullopt;
}

namespace {

bool EqualFolded(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
        const char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] - 'A' + 'a') : b[i];
        if (x != y) return false;
    }
    return true;
}

// Eight bytes with the ASCII capitals among them in lower case; bytes from
// 0x80 are left as they are.
std::uint64_t FoldedLane(std::uint64_t lane) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ull, kHigh = 0x8080808080808080ull;
    const std::uint64_t ascii = ~lane & kHigh;                            // high bit clear
    const std::uint64_t low = lane & ~kHigh;                              // each byte below 0x80
    const std::uint64_t fromA = (low + kOnes * (0x80 - 'A')) & kHigh;     // >= 'A'
    const std::uint64_t pastZ = (low + kOnes * (0x80 - 'Z' - 1)) & kHigh;  // > 'Z'
    return lane | ((fromA & ~pastZ & ascii) >> 2);
}

}  // namespace

// Eight bytes at a time: the quick look hashes most words of every page.
std::uint64_t SiteNames::WordSpellings::HashOf(std::string_view word) {
    constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;
    const auto mix = [](std::uint64_t hash, std::uint64_t lane) {
        hash = (hash ^ FoldedLane(lane)) * kMultiplier;
        return hash ^ (hash >> 29);
    };
    std::uint64_t hash = word.size() * kMultiplier;
    std::size_t at = 0;
    // Whole lanes copied by a fixed size, which the compiler makes one load.
    for (; at + 8 <= word.size(); at += 8) {
        std::uint64_t lane;
        std::memcpy(&lane, word.data() + at, 8);
        hash = mix(hash, lane);
    }
    if (at < word.size()) {
        std::uint64_t lane = 0;  // the last lane padded with zero bytes
        std::memcpy(&lane, word.data() + at, word.size() - at);
        hash = mix(hash, lane);
    }
    return hash * kMultiplier;
}

std::size_t SiteNames::WordSpellings::Find(std::string_view word, std::uint64_t hash) const {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t slot = SlotOf(hash);; slot = (slot + 1) & mask) {
        if (slots_[slot] == 0) return entries_.size();
        const Entry& entry = entries_[slots_[slot] - 1];
        // Most words looked up are a stored word as it is stored.
        if (entry.hash == hash && (entry.spelling == word || EqualFolded(entry.spelling, word))) return slots_[slot] - 1;
    }
}

bool SiteNames::WordSpellings::IsCaseVariantSlow(std::string_view word, std::uint64_t hash) const {
    const std::size_t found = Find(word, hash);
    return found < entries_.size() && (entries_[found].several || entries_[found].spelling != word);
}

void SiteNames::WordSpellings::Add(std::string_view word) {
    const std::uint64_t hash = HashOf(word);
    if (const std::size_t found = Find(word, hash); found < entries_.size()) {
        if (entries_[found].spelling != word) entries_[found].several = true;
        return;
    }
    // At most half the slots taken, so a probe meets an empty one soon.
    if ((entries_.size() + 1) * 2 > slots_.size()) Grow();
    lengths_ |= std::uint64_t{1} << std::min<std::size_t>(word.size(), 63);
    entries_.push_back(Entry{hash, std::string(word), false});
    const std::size_t mask = slots_.size() - 1;
    std::size_t slot = SlotOf(hash);
    while (slots_[slot] != 0) slot = (slot + 1) & mask;
    slots_[slot] = static_cast<std::uint32_t>(entries_.size());
    const std::uint64_t bit = hash >> (64 - kSieveBitsLog2);
    sieve_[bit / 64] |= std::uint64_t{1} << (bit % 64);
}

void SiteNames::WordSpellings::Grow() {
    ++slotsLog2_;
    slots_.assign(std::size_t{1} << slotsLog2_, 0);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        std::size_t slot = SlotOf(entries_[i].hash);
        while (slots_[slot] != 0) slot = (slot + 1) & mask;
        slots_[slot] = static_cast<std::uint32_t>(i + 1);
    }
}

}  // namespace vexmor::site
