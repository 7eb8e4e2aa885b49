#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "site/sitemap.h"
#include "tests/common/case_name.h"
#include "tests/site/site_test_files.h"

namespace vexmor::site {
namespace {

using sitetest::Gbk;

std::string Object(const std::string& params) {
    return "<LI><OBJECT type=\"text/sitemap\">" + params + "</OBJECT>\n";
}
std::string Param(const std::string& name, const std::string& value) {
    return "<param name=\"" + name + "\" value=\"" + value + "\">";
}
std::string Entry(const std::string& name, const std::string& local) {
    return Object(Param("Name", name) + Param("Local", local));
}

struct Shown {
    std::size_t depth;
    std::string name;
    bool operator==(const Shown&) const = default;
};
std::vector<Shown> Outline(const Sitemap& sitemap) {
    std::vector<Shown> outline;
    for (const SitemapEntry& entry : sitemap.entries) outline.push_back({entry.depth, entry.name});
    return outline;
}
void PrintTo(const Shown& shown, std::ostream* out) { *out << shown.depth << ":" << shown.name; }

TEST(ReadSitemap, NestsEntriesByTheirLists) {
    const std::string text = "<HTML><BODY><OBJECT type=\"text/site properties\">" + Param("ImageType", "Folder") +
                             "</OBJECT><UL>" + Object(Param("Name", "Book")) + "<UL>" + Entry("One", "a/one.htm") +
                             "<UL>" + Entry("Deep", "a/deep.htm") + "</UL>" + Entry("Two", "two.htm") + "</UL>" +
                             Entry("Last", "last.htm") + "</UL></BODY></HTML>";
    const Sitemap sitemap = ReadSitemap(text, "GBK");
    EXPECT_EQ(Outline(sitemap),
              (std::vector<Shown>{{0, "Book"}, {1, "One"}, {2, "Deep"}, {1, "Two"}, {0, "Last"}}));
    EXPECT_FALSE(sitemap.truncated);
    ASSERT_EQ(sitemap.entries[0].targets.size(), 0u);
    ASSERT_EQ(sitemap.entries[2].targets.size(), 1u);
    EXPECT_EQ(sitemap.entries[2].targets[0].local, "a/deep.htm");
    // No title of its own: the entry's name stands for it.
    EXPECT_EQ(sitemap.entries[2].targets[0].title, "");
}

TEST(ReadSitemap, KeepsEveryTargetOfAnIndexEntry) {
    const std::string text =
        "<UL>" +
        Object(Param("Name", "keyword") + Param("Name", "First page") + Param("Local", "a.htm") +
               Param("Name", "Second page") + Param("Local", "b.htm#x") + Param("Local", "c.htm")) +
        "<UL>" + Entry("sub", "d.htm") + "</UL>" + Object(Param("Name", "other") + Param("See Also", "keyword")) +
        Object(Param("Name", "web") + Param("URL", "http://example.com/") + Param("URL", "http://example.org/")) +
        "</UL>";
    const Sitemap sitemap = ReadSitemap(text, "GBK");
    ASSERT_EQ(sitemap.entries.size(), 4u);
    const SitemapEntry& keyword = sitemap.entries[0];
    EXPECT_EQ(keyword.name, "keyword");
    ASSERT_EQ(keyword.targets.size(), 3u);
    EXPECT_EQ(keyword.targets[0].title, "First page");
    EXPECT_EQ(keyword.targets[0].local, "a.htm");
    EXPECT_EQ(keyword.targets[1].title, "Second page");
    EXPECT_EQ(keyword.targets[1].local, "b.htm#x");
    // A target without a name of its own keeps none: the keyword stands for it.
    EXPECT_EQ(keyword.targets[2].title, "");
    EXPECT_EQ(sitemap.entries[1].depth, 1u);
    EXPECT_EQ(sitemap.entries[2].seeAlso, "keyword");
    EXPECT_TRUE(sitemap.entries[2].targets.empty());
    ASSERT_EQ(sitemap.entries[3].targets.size(), 1u);
    EXPECT_EQ(sitemap.entries[3].targets[0].local, "http://example.com/");
}

struct CharsetCase {
    const char* what;
    std::string bytes;
    std::string fallback;
    std::string name;  // UTF-8
};

class SitemapCharsetTest : public ::testing::TestWithParam<CharsetCase> {};

TEST_P(SitemapCharsetTest, DecodesNamesFromTheDeclaredCharsetElseTheFallback) {
    const CharsetCase& c = GetParam();
    const Sitemap sitemap = ReadSitemap(c.bytes, c.fallback);
    ASSERT_EQ(sitemap.entries.size(), 1u);
    EXPECT_EQ(sitemap.entries[0].name, c.name);
}

const std::string kUtf8Meta = "<HEAD><meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\"></HEAD>";

INSTANTIATE_TEST_SUITE_P(
    Charsets, SitemapCharsetTest,
    ::testing::Values(
        CharsetCase{"fallback_gbk", "<UL>" + Entry(Gbk("简介"), "a.htm") + "</UL>", "GBK", "简介"},
        CharsetCase{"declared_utf8_beats_fallback", kUtf8Meta + "<UL>" + Entry("简介", "a.htm") + "</UL>", "GBK",
                    "简介"},
        CharsetCase{"declared_gb2312_beats_fallback",
                    "<meta charset=\"gb2312\"><UL>" + Entry(Gbk("简介"), "a.htm") + "</UL>", "WINDOWS-1252", "简介"},
        CharsetCase{"entities_resolved", "<UL>" + Entry("a &amp; b &lt;c&gt; &#x4E2D;", "a.htm") + "</UL>", "GBK",
                    "a & b <c> 中"},
        CharsetCase{"invalid_bytes_replaced", "<UL>" + Entry("a\xFFz", "a.htm") + "</UL>", "GBK", "a\xEF\xBF\xBDz"}),
    test::CaseName<CharsetCase>);

// A declaration naming a charset iconv does not know leaves the names to
// the fallback.
INSTANTIATE_TEST_SUITE_P(
    UnknownDeclaration, SitemapCharsetTest,
    ::testing::Values(CharsetCase{"unknown_declaration_uses_fallback",
                                  "<meta charset=\"x-no-such-charset\"><UL>" + Entry(Gbk("简介"), "a.htm") + "</UL>",
                                  "GBK", "简介"}),
    test::CaseName<CharsetCase>);

TEST(SitemapReader, GivesTheSameEntriesWhateverThePiecesAreCutAt) {
    std::string text = "<UL>";
    for (int i = 0; i < 300; ++i) text += Entry(Gbk("第" + std::to_string(i) + "章 简介"), "p" + std::to_string(i) + ".htm");
    text += "</UL>";
    const Sitemap whole = ReadSitemap(text, "GBK");
    ASSERT_EQ(whole.entries.size(), 300u);
    EXPECT_EQ(whole.entries[299].name, "第299章 简介");
    for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{4095}}) {
        SitemapReader reader("GBK");
        for (std::size_t at = 0; at < text.size(); at += piece)
            reader.Feed(std::string_view(text).substr(at, piece));
        EXPECT_EQ(Outline(reader.Finish()), Outline(whole)) << "pieces of " << piece;
    }
}

struct BrokenCase {
    const char* what;
    std::string bytes;
    std::vector<Shown> outline;
};

class BrokenSitemapTest : public ::testing::TestWithParam<BrokenCase> {};

TEST_P(BrokenSitemapTest, RecoversWhatItCan) {
    const BrokenCase& c = GetParam();
    EXPECT_EQ(Outline(ReadSitemap(c.bytes, "GBK")), c.outline);
}

INSTANTIATE_TEST_SUITE_P(
    Markup, BrokenSitemapTest,
    ::testing::Values(
        BrokenCase{"empty", "", {}},
        BrokenCase{"not_markup", std::string("\0\x01\xFF\xFE garbage", 12), {}},
        BrokenCase{"closing_lists_first", "<HTML></UL></UL></UL><UL>" + Entry("a", "a.htm") + "</UL>", {{0, "a"}}},
        BrokenCase{"lists_never_closed", "<UL>" + Entry("a", "a.htm") + "<UL>" + Entry("b", "b.htm"),
                   {{0, "a"}, {1, "b"}}},
        BrokenCase{"object_never_closed",
                   "<UL><LI><OBJECT type=\"text/sitemap\">" + Param("Name", "a") + "<LI>" + Entry("b", "b.htm"),
                   {{0, "b"}}},
        BrokenCase{"cut_inside_an_attribute", "<UL>" + Entry("a", "a.htm") + "<OBJECT type=\"text/sitemap\"><param name=\"Na",
                   {{0, "a"}}},
        BrokenCase{"other_objects_ignored",
                   "<UL><OBJECT type=\"application/x-oleobject\">" + Param("Name", "x") + "</OBJECT>" +
                       Entry("a", "a.htm") + "</UL>",
                   {{0, "a"}}},
        BrokenCase{"params_outside_objects", "<UL>" + Param("Name", "x") + Entry("a", "a.htm") + "</UL>", {{0, "a"}}},
        BrokenCase{"unquoted_and_upper_case",
                   "<ul><li><object TYPE=TEXT/SITEMAP><PARAM NAME=name VALUE=a><param name=LOCAL value=a.htm></object></ul>",
                   {{0, "a"}}}),
    test::CaseName<BrokenCase>);

// An end tag before the first start tag (after a doctype or a comment, or
// at the very start) does not end the reading.
INSTANTIATE_TEST_SUITE_P(
    EndTagFirst, BrokenSitemapTest,
    ::testing::Values(
        BrokenCase{"end_tag_after_doctype", "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML//EN\"></UL><UL>" + Entry("a", "a.htm") + "</UL>",
                   {{0, "a"}}},
        BrokenCase{"end_tag_after_comment", "<!-- x --></UL><UL>" + Entry("a", "a.htm") + "</UL>", {{0, "a"}}},
        BrokenCase{"end_tag_first", "</UL><UL>" + Entry("a", "a.htm") + "</UL>", {{0, "a"}}}),
    test::CaseName<BrokenCase>);

TEST(ReadSitemap, ShowsDeepNestingAtTheDepthLimit) {
    constexpr std::size_t kDepth = 200000;
    std::string text;
    for (std::size_t i = 0; i < kDepth; ++i) text += "<UL>";
    text += Entry("deep", "a.htm");
    for (std::size_t i = 0; i < kDepth; ++i) text += "</UL>";
    text += "<UL>" + Entry("after", "b.htm") + "</UL>";
    const Sitemap sitemap = ReadSitemap(text, "GBK");
    EXPECT_EQ(Outline(sitemap), (std::vector<Shown>{{kSitemapDepthLimit, "deep"}, {0, "after"}}));
}

// Feeds about 100 MB made of `piece` over and over, as the export reads a
// stream, and gives what was kept.
Sitemap FeedHundredMegabytes(const std::string& piece) {
    SitemapReader reader("GBK");
    reader.Feed("<HTML><BODY><UL>");
    for (std::size_t fed = 0; fed < (100u << 20); fed += piece.size()) reader.Feed(piece);
    return reader.Finish();
}

std::size_t TextBytes(const Sitemap& sitemap) {
    std::size_t bytes = 0;
    for (const SitemapEntry& entry : sitemap.entries) {
        bytes += entry.name.size() + entry.seeAlso.size();
        for (const SitemapTarget& target : entry.targets) bytes += target.title.size() + target.local.size();
    }
    return bytes;
}

TEST(SitemapReader, KeepsAtMostTheEntryLimitOfAHugeFile) {
    std::string piece;
    while (piece.size() < (64u << 10)) piece += Entry("n", "a.htm");
    const Sitemap sitemap = FeedHundredMegabytes(piece);
    EXPECT_TRUE(sitemap.truncated);
    EXPECT_EQ(sitemap.entries.size(), kSitemapEntryLimit);
}

TEST(SitemapReader, KeepsAtMostTheTextLimitOfAHugeFile) {
    const std::string name(60000, 'x');
    const std::string piece = Entry(name, name + ".htm");
    const Sitemap sitemap = FeedHundredMegabytes(piece);
    EXPECT_TRUE(sitemap.truncated);
    // The entry that crosses the limit is the last one kept.
    EXPECT_LE(TextBytes(sitemap), kSitemapTextLimit + 4 * piece.size());
    EXPECT_LT(sitemap.entries.size(), kSitemapEntryLimit);
}

// A value that never ends stops the reading once the parser has held the
// quiet limit without an element: it is not kept whole.
TEST(SitemapReader, KeepsAtMostTheTextLimitOfAnEndlessName) {
    // One attribute value that never ends.
    SitemapReader reader("GBK");
    reader.Feed("<HTML><BODY><UL>" + Entry("first", "a.htm") + "<LI><OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\"");
    const std::string piece(64u << 10, 'y');
    for (std::size_t fed = 0; fed < (100u << 20); fed += piece.size()) reader.Feed(piece);
    const Sitemap sitemap = reader.Finish();
    ASSERT_GE(sitemap.entries.size(), 1u);
    EXPECT_EQ(sitemap.entries[0].name, "first");
    EXPECT_LE(TextBytes(sitemap), kSitemapTextLimit);
}

}  // namespace
}  // namespace vexmor::site
