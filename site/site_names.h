// The streams a site export writes, found by their inner path as the help
// compiler found them: without regard to the case of ASCII letters.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "catalogue/uChmExtractor.h"

namespace vexmor::site {

// True for the streams a site leaves out: the help file's own bookkeeping,
// whose inner path and name begin with '#', '$' or "::".
bool IsBookkeeping(const TChmItem& item);

class SiteNames {
public:
    explicit SiteNames(const TChmItems& items);
    // The tables look into the paths: a copy would look into the original's.
    SiteNames(const SiteNames&) = delete;
    SiteNames& operator=(const SiteNames&) = delete;
    SiteNames(SiteNames&&) = default;
    SiteNames& operator=(SiteNames&&) = default;

    // The stored inner path ("html/a.htm", no leading '/') of the stream at
    // `path`, compared exactly first, then without regard to ASCII case (the
    // first stream in catalogue order wins a tie); nullopt when none.
    std::optional<std::string_view> Find(std::string_view path) const;
    bool HoldsExactly(std::string_view path) const { return exact_.count(path) != 0; }

    // For the quick look at a page: whether `word`, taken as a final name
    // (or as a folder level), could stand for a stream under another case:
    // it is one only under another case, or the file holds it under more
    // than one case. `dotted`: whether the word holds a '.'.
    bool IsCaseVariantOfName(std::string_view word, bool dotted) const {
        return (dotted ? nameWords_ : plainNameWords_).IsCaseVariant(word);
    }
    bool IsCaseVariantOfFolder(std::string_view word) const { return folderWords_.IsCaseVariant(word); }
    // False when no stored word has the length of `word`: then neither of
    // the above can be true. Cheaper than they are.
    bool MayBeNamed(std::string_view word, bool folder, bool dotted) const {
        return (folder ? folderWords_ : dotted ? nameWords_ : plainNameWords_).HasLengthOf(word);
    }
    // The words are the runs of IsWordByte bytes of each level. False when
    // some written stream's name also holds other bytes (a space, '#',
    // '&', ...): then a link may write them as %XX, which splits words
    // differently.
    bool NamesAreWords() const { return namesAreWords_; }

private:
    // The words of the stored names by their hash, each with its spelling
    // in the file, or marked as spelled more than one way. Most words of a
    // page name no stream: their length, then a bit per hash, say so before
    // any probe.
    class WordSpellings {
    public:
        void Add(std::string_view word);
        bool HasLengthOf(std::string_view word) const {
            return ((lengths_ >> std::min<std::size_t>(word.size(), 63)) & 1u) != 0;
        }
        bool IsCaseVariant(std::string_view word) const {
            if (!HasLengthOf(word)) return false;
            const std::uint64_t hash = HashOf(word);
            const std::uint64_t bit = hash >> (64 - kSieveBitsLog2);
            if (((sieve_[bit / 64] >> (bit % 64)) & 1u) == 0) return false;
            return IsCaseVariantSlow(word, hash);
        }
        // Without regard to ASCII case.
        static std::uint64_t HashOf(std::string_view word);

    private:
        struct Entry {
            std::uint64_t hash;
            std::string spelling;
            bool several;  // spelled more than one way
        };
        static constexpr unsigned kSieveBitsLog2 = 18;
        bool IsCaseVariantSlow(std::string_view word, std::uint64_t hash) const;
        // The index of the word's entry; entries_.size() when none.
        std::size_t Find(std::string_view word, std::uint64_t hash) const;
        void Grow();
        std::size_t SlotOf(std::uint64_t hash) const { return (hash * 0x9E3779B97F4A7C15ull) >> (64 - slotsLog2_); }

        std::uint64_t lengths_ = 0;  // bit min(length, 63) for each word's length
        std::vector<Entry> entries_;
        std::vector<std::uint32_t> slots_ = std::vector<std::uint32_t>(16);  // 1 + an index into entries_; 0: empty
        unsigned slotsLog2_ = 4;
        std::vector<std::uint64_t> sieve_ = std::vector<std::uint64_t>((std::size_t{1} << kSieveBitsLog2) / 64);
    };

    void AddWords(std::string_view level, bool folder);

    // The stored paths and their lower-case forms; the tables look into
    // them (their strings never move once made).
    std::vector<std::string> paths_, foldedPaths_;
    std::unordered_set<std::string_view> exact_;
    std::unordered_map<std::string_view, std::string_view> folded_;  // lower-case path -> stored path
    // Words of final names with and without a '.', and last words of folder levels.
    WordSpellings nameWords_, plainNameWords_, folderWords_;
    bool namesAreWords_ = true;
};

// The bytes a word of a page is made of in the quick look: what a link's
// levels are usually named with.
inline constexpr std::array<bool, 256> kWordBytes = [] {
    std::array<bool, 256> table{};
    for (unsigned byte = 0; byte < 256; ++byte) {
        const char c = static_cast<char>(byte);
        table[byte] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || byte >= 0x80 ||
                      std::string_view(".-_~+!$@*,[]{}^`|").find(c) != std::string_view::npos;
    }
    return table;
}();

inline bool IsWordByte(unsigned char byte) { return kWordBytes[byte]; }

// `text` with ASCII letters in lower case.
std::string FoldCase(std::string_view text);

// Whether `text` holds `word` (in lower case) at `at`, ASCII letters
// compared without regard to case.
bool MatchesFoldedAt(std::string_view text, std::size_t at, std::string_view word);

}  // namespace vexmor::site
