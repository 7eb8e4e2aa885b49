#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "site/entry_pages.h"
#include "site/site_names.h"
#include "tests/common/case_name.h"
#include "tests/site/page_links.h"
#include "tests/site/site_test_files.h"

namespace vexmor::site {
namespace {

const sitetest::OpenHelpFile& EntryFile() {
    static const sitetest::OpenHelpFile file({
        {"/a.htm", testsupport::ToBytes("a"), 0},
        {"/html/Intro.htm", testsupport::ToBytes("b"), 0},
        {"/页 面.htm", testsupport::ToBytes("d"), 0},
    });
    return file;
}

SitemapEntry Entry(std::size_t depth, std::string name, std::vector<std::string> locals) {
    SitemapEntry entry;
    entry.depth = depth;
    entry.name = name;
    for (std::string& local : locals) entry.targets.push_back({name, std::move(local)});
    return entry;
}

struct HrefCase {
    const char* what;
    std::string local;
    std::string href;  // empty: shown as text only
};

class EntryHrefTest : public ::testing::TestWithParam<HrefCase> {};

TEST_P(EntryHrefTest, LinksOnlyWhatStaysInTheFolderOrIsOnTheWeb) {
    const HrefCase& c = GetParam();
    const SiteNames names(EntryFile().Items());
    EXPECT_EQ(EntryHref(c.local, LinkContext{&names, "", "test.chm"}), c.href);
}

INSTANTIATE_TEST_SUITE_P(
    Targets, EntryHrefTest,
    ::testing::Values(HrefCase{"stream", "a.htm", "a.htm"}, HrefCase{"stream_other_case", "HTML\\intro.HTM#x", "html/Intro.htm#x"},
                      HrefCase{"stream_beyond_ascii", "页 面.htm", "%E9%A1%B5%20%E9%9D%A2.htm"},
                      HrefCase{"help_scheme", "ms-its:test.chm::/a.htm", "a.htm"},
                      HrefCase{"other_help_file", "ms-its:other.chm::/x.htm", "../other/x.htm"},
                      HrefCase{"web", "http://example.com/a?b=c", "http://example.com/a?b=c"},
                      HrefCase{"web_with_space", "http://example.com/a b", ""},
                      HrefCase{"javascript", "javascript:alert(1)", ""},
                      HrefCase{"javascript_upper_case", "JavaScript:alert(1)", ""},
                      HrefCase{"javascript_with_tab", "java\tscript:alert(1)", ""},
                      HrefCase{"javascript_with_leading_space", " javascript:alert(1)", ""},
                      HrefCase{"vbscript", "vbscript:msgbox(1)", ""},
                      HrefCase{"data", "data:text/html,<script>alert(1)</script>", ""},
                      HrefCase{"file", "file:///etc/passwd", ""}, HrefCase{"file_upper_case", "FILE:/etc/passwd", ""},
                      HrefCase{"absolute_path", "/etc/passwd", ""},
                      HrefCase{"climbing_out", "../../../etc/passwd", ""},
                      HrefCase{"climbing_out_encoded", "%2e%2e/%2e%2e/etc/passwd", ""},
                      HrefCase{"network_path", "\\\\server\\share\\a.htm", ""},
                      HrefCase{"network_path_slashes", "//evil.example.com/a.htm", ""},
                      HrefCase{"other_help_file_climbing_out", "ms-its:other.chm::/../../../etc/passwd", ""},
                      HrefCase{"missing", "nothing.htm", ""}),
    test::CaseName<HrefCase>);

// Every link the page makes: inside the folder, or into a sibling help
// file's folder, or onto the web.
void ExpectLinksStayInside(const std::string& html) {
    for (const sitetest::PageLink& link : sitetest::LinksOf(html)) {
        const std::string& value = link.value;
        if (value.starts_with("http://") || value.starts_with("https://") || value.starts_with("mailto:") ||
            value == "about:blank")
            continue;
        ASSERT_TRUE(sitetest::IsRelativeLink(value)) << link.element << " " << link.attribute << "=" << value;
        std::string path = sitetest::LinkPath(value);
        if (path.starts_with("../")) path.erase(0, 3);  // a sibling help file's folder, once
        EXPECT_FALSE(path.starts_with('/')) << value;
        EXPECT_EQ(("/" + path + "/").find("/../"), std::string::npos) << value;
        EXPECT_EQ(path.find('\\'), std::string::npos) << value;
    }
}

TEST(EntryPage, ShowsHostileNamesAsTextAndLinksNothingOutside) {
    const SiteNames names(EntryFile().Items());
    Sitemap contents;
    const std::string script = std::string(sitetest::kScriptName);
    contents.entries = {
        Entry(0, script, {"javascript:alert(1)"}),
        Entry(1, "\"><script>alert(2)</script>", {"a.htm"}),
        Entry(1, "file", {"file:///etc/passwd"}),
        Entry(2, "up", {"../../etc/passwd"}),
        Entry(0, "quote", {"a.htm\" onmouseover=\"alert(3)"}),
        Entry(0, "web", {"http://example.com/\"><script>alert(5)</script>"}),
        Entry(0, "other", {"ms-its:other.chm::/x.htm"}),
        Entry(0, std::string("bad \xFF utf-8"), {"a.htm"}),
    };
    EntryPageInput input;
    input.title = "</title><script>alert(4)</script>";
    input.contents = &contents;
    input.defaultTopic = EntryHref("a.htm", LinkContext{&names, "", "test.chm"});
    input.links = LinkContext{&names, "", "test.chm"};
    const std::string html = EntryPage(input);

    EXPECT_EQ(html.find("<img"), std::string::npos);
    EXPECT_EQ(html.find("<script>alert"), std::string::npos);
    EXPECT_EQ(html.find("onmouseover=\""), std::string::npos);
    EXPECT_NE(html.find("&lt;img src=x onerror=alert(1)&gt;"), std::string::npos);
    EXPECT_NE(html.find("&lt;/title&gt;&lt;script&gt;alert(4)&lt;/script&gt;"), std::string::npos);
    EXPECT_EQ(html.find("javascript:"), std::string::npos);
    EXPECT_EQ(html.find("file:"), std::string::npos);
    EXPECT_EQ(html.find("etc/passwd"), std::string::npos);
    // Only the generated page's own script runs.
    EXPECT_EQ(html.find("<script"), html.find("<script src=\"$search.js\">"));
    ExpectLinksStayInside(html);
    EXPECT_NE(html.find("<iframe name=\"topic\" title=\"topic\" src=\"a.htm\">"), std::string::npos);
}

TEST(EntryPage, NestsTheContentsInCollapsibleBranches) {
    const SiteNames names(EntryFile().Items());
    Sitemap contents;
    contents.entries = {Entry(0, "Book", {}), Entry(1, "Page", {"a.htm"}), Entry(2, "Deeper", {"html/intro.htm"}),
                        Entry(0, "Last", {"a.htm"})};
    EntryPageInput input;
    input.title = "T";
    input.contents = &contents;
    input.links = LinkContext{&names, "", "test.chm"};
    const std::string html = EntryPage(input);
    const std::size_t book = html.find("<details open><summary><span class=\"nolink\">Book</span></summary>");
    const std::size_t page = html.find("<details><summary><a href=\"a.htm\" target=\"topic\">Page</a></summary>");
    const std::size_t deeper = html.find("<li><a href=\"html/Intro.htm\" target=\"topic\">Deeper</a></li>");
    const std::size_t last = html.find("<li><a href=\"a.htm\" target=\"topic\">Last</a></li>");
    ASSERT_NE(book, std::string::npos) << html;
    ASSERT_NE(page, std::string::npos) << html;
    ASSERT_NE(deeper, std::string::npos) << html;
    ASSERT_NE(last, std::string::npos) << html;
    EXPECT_LT(book, page);
    EXPECT_LT(page, deeper);
    EXPECT_LT(deeper, last);
    // Both branches are closed before the last entry.
    const std::string between = html.substr(deeper, last - deeper);
    std::size_t closes = 0;
    for (std::size_t at = between.find("</details>"); at != std::string::npos; at = between.find("</details>", at + 1))
        ++closes;
    EXPECT_EQ(closes, 2u);
}

TEST(KeywordPage, SortsKeywordsKeepsSubKeywordsAndListsEveryTarget) {
    const SiteNames names(EntryFile().Items());
    Sitemap keywords;
    SitemapEntry several = Entry(0, "beta", {});
    several.targets = {{"First <b>", "a.htm"}, {"Second", "html/intro.htm"}, {"Bad", "javascript:alert(1)"}};
    keywords.entries = {several, Entry(1, "beta sub", {"a.htm"}), Entry(0, "Alpha", {"a.htm"}),
                        Entry(0, sitetest::kScriptName.data(), {"a.htm"})};
    EntryPageInput input;
    input.title = "T";
    input.keywords = &keywords;
    input.links = LinkContext{&names, "", "test.chm"};
    const std::string html = KeywordPage(input);
    const std::size_t hostile = html.find("&lt;img src=x onerror=alert(1)&gt;");
    const std::size_t alpha = html.find(">Alpha<");
    const std::size_t beta = html.find(">beta<");
    const std::size_t sub = html.find(">beta sub<");
    ASSERT_NE(hostile, std::string::npos);
    ASSERT_NE(alpha, std::string::npos);
    ASSERT_NE(beta, std::string::npos);
    ASSERT_NE(sub, std::string::npos);
    EXPECT_LT(hostile, alpha);  // '<' sorts before letters
    EXPECT_LT(alpha, beta);
    EXPECT_LT(beta, sub);
    EXPECT_NE(html.find("<a href=\"a.htm\" target=\"topic\">First &lt;b&gt;</a>"), std::string::npos);
    EXPECT_NE(html.find("<a href=\"html/Intro.htm\" target=\"topic\">Second</a>"), std::string::npos);
    EXPECT_NE(html.find("<span class=\"nolink\">Bad</span>"), std::string::npos);
    EXPECT_EQ(html.find("<img"), std::string::npos);
    EXPECT_EQ(html.find("javascript:"), std::string::npos);
    ExpectLinksStayInside(html);
}

}  // namespace
}  // namespace vexmor::site
