// The contents file (.hhc) and keyword index (.hhk) of a help file: lists of
// <OBJECT type="text/sitemap"> entries nested by <UL>, read by libxml2's HTML
// parser as a stream of events, so that neither the file's size nor its
// nesting decides the memory taken.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vexmor::site {

struct SitemapTarget {
    std::string title;  // UTF-8; empty when the file gives none (the entry's name stands for it)
    std::string local;  // the link as written (UTF-8)
};

struct SitemapEntry {
    std::size_t depth = 0;  // 0 at the top, at most kSitemapDepthLimit
    std::string name;       // UTF-8
    std::vector<SitemapTarget> targets;
    std::string seeAlso;  // an index entry that only points at another keyword
};

// Entries in the order of the file: a parent before its children, each
// child one level deeper than its parent.
struct Sitemap {
    std::vector<SitemapEntry> entries;
    bool truncated = false;  // stopped at the limits below
};

// Deeper levels are shown at this one; no help file nests so far.
inline constexpr std::size_t kSitemapDepthLimit = 48;
// What is kept of a hostile file at most.
inline constexpr std::size_t kSitemapEntryLimit = 500000;
inline constexpr std::size_t kSitemapTextLimit = 24u << 20;
// Text the parser holds without an element ending or starting (a value
// whose quote never closes): the reading stops there.
inline constexpr std::size_t kSitemapQuietLimit = 4u << 20;

class SitemapReader {
public:
    // `fallbackCharset` (iconv name) reads a file that declares none.
    explicit SitemapReader(std::string fallbackCharset);
    ~SitemapReader();
    SitemapReader(const SitemapReader&) = delete;
    SitemapReader& operator=(const SitemapReader&) = delete;

    // The file's bytes, piece by piece.
    void Feed(std::string_view bytes);
    Sitemap Finish();

    struct Events;  // the parser's callbacks

private:
    void Start(std::string_view head);
    void Parse(std::string_view utf8, bool last);

    std::string fallbackCharset_;
    std::string head_;  // the first bytes, kept until the charset is known
    bool started_ = false;
    std::unique_ptr<Events> events_;
};

// Reads a whole sitemap held in memory.
Sitemap ReadSitemap(std::string_view bytes, const std::string& fallbackCharset);

}  // namespace vexmor::site
