// The streams a site export writes, found by their inner path as the help
// compiler found them: without regard to the case of ASCII letters.
#pragma once

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

    // The stored inner path ("html/a.htm", no leading '/') of the stream at
    // `path`, compared exactly first, then without regard to ASCII case (the
    // first stream in catalogue order wins a tie); nullopt when none.
    std::optional<std::string_view> Find(std::string_view path) const;
    bool HoldsExactly(std::string_view path) const { return exact_.count(std::string(path)) != 0; }

    // For the quick look at a page: whether `word`, taken as a final name
    // (or as a folder level), could stand for a stream under another case:
    // it is one only under another case, or the file holds it under more
    // than one case.
    bool IsCaseVariantOfName(std::string_view word) const {
        return nameSieve_.MayHold(word) && IsCaseVariant(word, nameWords_);
    }
    bool IsCaseVariantOfFolder(std::string_view word) const {
        return folderSieve_.MayHold(word) && IsCaseVariant(word, folderWords_);
    }
    // The words are the runs of IsWordByte bytes of each level. False when
    // some written stream's name also holds other bytes (a space, '#',
    // '&', ...): then a link may write them as %XX, which splits words
    // differently.
    bool NamesAreWords() const { return namesAreWords_; }
    // Whether some word of a written stream's name has no '.'.
    bool HasNamesWithoutDot() const { return namesWithoutDot_; }

private:
    // A bit per hash of a word in lower case: most words of a page name no
    // stream, and a clear bit says so without a lookup.
    class Sieve {
    public:
        void Add(std::string_view word) { bits_[Hash(word) % kBits / 64] |= 1ull << (Hash(word) % 64); }
        bool MayHold(std::string_view word) const {
            const std::uint32_t hash = Hash(word);
            return (bits_[hash % kBits / 64] >> (hash % 64)) & 1u;
        }

    private:
        static constexpr std::uint32_t kBits = 1u << 18;
        static std::uint32_t Hash(std::string_view word) {
            std::uint32_t hash = 2166136261u;
            for (const char c : word) {
                const char folded = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
                hash = (hash ^ static_cast<unsigned char>(folded)) * 16777619u;
            }
            return hash;
        }
        std::vector<std::uint64_t> bits_ = std::vector<std::uint64_t>(kBits / 64);
    };

    // A word in lower case -> its spelling in the file, or empty when the
    // file spells it more than one way.
    using Spellings = std::unordered_map<std::string, std::string>;
    static bool IsCaseVariant(std::string_view word, const Spellings& spellings);
    static void AddSpelling(std::string_view word, Spellings& spellings);
    void AddWords(std::string_view level, bool folder);

    std::unordered_set<std::string> exact_;
    std::unordered_map<std::string, std::string> folded_;  // lower-case path -> stored path
    Spellings nameWords_, folderWords_;
    Sieve nameSieve_, folderSieve_;
    bool namesAreWords_ = true;
    bool namesWithoutDot_ = false;
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

}  // namespace vexmor::site
