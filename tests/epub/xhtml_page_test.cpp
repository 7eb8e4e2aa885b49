// The page cleaner: what XHTML a help page becomes. Every page it writes
// must be well-formed XML, whatever it was given.
#include <gtest/gtest.h>

#include <libxml/parser.h>

#include <memory>

#include "epub/book_links.h"
#include "epub/xhtml_page.h"
#include "site/site_names.h"
#include "tests/common/case_name.h"
#include "tests/site/site_test_files.h"
#include "tests/support/byte_writer.h"

namespace vexmor::epubtest {
namespace {

using testsupport::ToBytes;

class Cleaner {
public:
    Cleaner()
        : help_({{"/a.htm", ToBytes("<p>a</p>"), 0},
                 {"/b/c.htm", ToBytes("<p>c</p>"), 0},
                 {"/pic.gif", sitetest::TinyGif(), 0}}),
          order_(AllOf(help_.Items())),
          book_(help_.Items(), order_),
          names_(help_.Items()),
          links_(book_, names_, "test.chm") {}

    std::string Page(std::string_view html, const std::string& fallback = "CP1252") const {
        epub::PageInput input;
        input.bytes = html;
        input.page = book_.Find("a.htm");
        input.links = &links_;
        input.charset.iconvName = fallback;
        input.language = "en-US";
        return epub::XhtmlPage(input);
    }

private:
    static std::vector<std::size_t> AllOf(const TChmItems& items) {
        std::vector<std::size_t> all;
        for (std::size_t i = 0; i < items.Count(); ++i) all.push_back(i);
        return all;
    }
    sitetest::OpenHelpFile help_;
    std::vector<std::size_t> order_;
    epub::BookNames book_;
    site::SiteNames names_;
    epub::BookLinks links_;
};

bool IsWellFormed(const std::string& xml, std::string& why) {
    const std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)> document(
        xmlReadMemory(xml.data(), static_cast<int>(xml.size()), "page.xhtml", nullptr,
                      XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_HUGE),
        xmlFreeDoc);
    if (!document) {
        const xmlError* error = xmlGetLastError();
        why = error && error->message ? error->message : "not well-formed";
        return false;
    }
    return true;
}

struct PageCase {
    const char* name;
    std::string html;
    std::vector<std::string> holds;
    std::vector<std::string> lacks;
};

class CleanedPage : public ::testing::TestWithParam<PageCase> {};

TEST_P(CleanedPage, IsWellFormedAndAsExpected) {
    static const Cleaner cleaner;
    const PageCase& c = GetParam();
    const std::string page = cleaner.Page(c.html);
    std::string why;
    EXPECT_TRUE(IsWellFormed(page, why)) << why << "\n" << page;
    for (const std::string& piece : c.holds) EXPECT_NE(page.find(piece), std::string::npos) << piece << "\n" << page;
    for (const std::string& piece : c.lacks) EXPECT_EQ(page.find(piece), std::string::npos) << piece << "\n" << page;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CleanedPage,
    ::testing::Values(
        PageCase{"ListsHoldOnlyItems", "<ul><ul><li>x</ul>text<p>p</ul>",
                 {"<ul><li style=\"list-style-type:none;\"><ul><li>x</li></ul>text<p>p</p></li></ul>"}, {}},
        PageCase{"TermListsHoldOnlyTermsAndDefinitions", "<dl><p>p</p><dt>t<dd>d</dl>",
                 {"<dl><dd><p>p</p></dd><dt>t</dt><dd>d</dd></dl>"}, {}},
        PageCase{"ParagraphHoldingATableBecomesADiv", "<p>a<span><table><tr><td>c</td></tr></table></span></p>",
                 {"<div style=\"margin-top:1em;margin-bottom:1em;\">a<div><table><tbody><tr><td>c</td></tr></tbody></table>"},
                 {"<p>a"}},
        // What stands in a table outside its cells goes before it; cells and
        // rows standing alone get their row and row group.
        PageCase{"StrayTableContentKept",
                 "<table>loose<td>c1</td><p>para</p><tr><td>c2</td></tr><tbody><td>c3</td></tbody></table>",
                 {"loose<p>para</p><table><tbody><tr><td>c1</td></tr><tr><td>c2</td></tr></tbody>"
                  "<tbody><tr><td>c3</td></tr></tbody></table>"},
                 {}},
        PageCase{"TableInATableStandsBeforeIt",
                 "<table><table><tr><td>inner</td></tr></table><tr><td>outer</td></tr></table>",
                 {"<table><tbody><tr><td>inner</td></tr></tbody></table><table><tbody><tr><td>outer</td></tr>"}, {}},
        PageCase{"FormAroundRowsGoes", "<table><form><tr><td>a</td></tr></form><tr><td>b</td></tr></table>",
                 {"<table><tbody><tr><td>a</td></tr><tr><td>b</td></tr></tbody></table>"}, {"form"}},
        PageCase{"CellsOutsideATableAreTheirContent", "<div><td id=\"x\">cell</td><tr><td>row</td></tr></div>",
                 {"<div>cell", "row</div>"}, {"<td", "<tr"}},
        PageCase{"HeadingHoldingBlocksBecomesADiv", "<h1><span><div>x</div></span></h1>",
                 {"<div style=\"font-size:2em;font-weight:bold;margin:0.67em 0;\"><div><div>x</div></div></div>"}, {}},
        PageCase{"ListItemOutsideAList", "<li>loose</li>", {"<div style=\"display:list-item;\">loose</div>"}, {}},
        PageCase{"TablePartsInTheirOrder", "<table><tfoot><tr><td>f</td></tr></tfoot><tr><td>b</td></tr><caption>c</caption></table>",
                 {"<table><caption>c</caption><tbody><tr><td>b</td></tr></tbody><tfoot>"}, {}},
        PageCase{"ControlCharactersGo", "<p>a\x01" "b\x0B" "c\xC2\x85" "d</p>", {"<p>a"}, {"\x01", "\x0B", "\xC2\x85"}},
        PageCase{"TextAndValuesAreEscaped", "<p title='a\"b&lt;'>&lt;tag&gt; &amp; x</p>",
                 {"title=\"a&quot;b&lt;\"", "&lt;tag&gt; &amp; x"}, {}},
        PageCase{"IdsBecomeXmlNames", "<p id=\"a b\">1</p><p id=\"a b\">2</p><a href=\"#a%20b\">l</a>",
                 {"<p id=\"_-a_20b\">1</p><p>2</p>", "href=\"#_-a_20b\""}, {}},
        PageCase{"LinksToMissingFragmentsLeadToThePage", "<a href=\"#gone\">l</a><a href=\"a.htm#gone\">m</a>",
                 {"<a href=\"a.xhtml\">l</a><a href=\"a.xhtml\">m</a>"}, {"gone"}},
        PageCase{"LinksRepaired", "<a href=\"B\\C.HTM\">c</a><a href=\"ms-its:test.chm::/b/c.htm\">d</a>",
                 {"<a href=\"b/c.xhtml\">c</a><a href=\"b/c.xhtml\">d</a>"}, {}},
        PageCase{"ImagesOfTheBookStayOthersBecomeTheirText", "<img src=\"PIC.GIF\"><img src=\"x.png\" alt=\"gone\">",
                 {"<img src=\"pic.gif\" alt=\"\"/>gone"}, {"x.png"}},
        PageCase{"StyleElementsGoToTheHeadWithTheirLinks",
                 "<body><style><!-- p { background: url(PIC.GIF) } --></style><p>x</p></body>",
                 {"<style type=\"text/css\">\n  p { background: url(pic.gif) }  ", "</style>\n</head>"}, {"<!--"}},
        PageCase{"FramesBecomeLinks", "<frameset><frame src=\"b/c.htm\" name=\"main\"></frameset>",
                 {"<ul class=\"related-topics\"><li><a href=\"b/c.xhtml\">main</a></li></ul>"}, {"<frame"}},
        PageCase{"NamedCharsetIsRead", "<meta charset=\"windows-1252\"><p>caf\xE9</p>", {"caf\xC3\xA9"}, {}},
        // Word's prefixed elements are known by their local name.
        PageCase{"PrefixedElementsByTheirLocalName", "<div>a<o:p>b</o:p><st1:place>c</st1:place></div>",
                 {"<div>a<p>b</p>c</div>"}, {"o:p", "st1"}},
        PageCase{"NestingUnderTheParsersLimitStaysMarkup",
                 [] {
                     std::string html;
                     for (int i = 0; i < 120; ++i) html += "<span><b>";
                     return html + "deep";
                 }(),
                 {"<span><b>deep</b></span>"}, {}},
        PageCase{"HostileNestingEndsAsText", std::string(40000, '<') + "div>" + std::string(60000, 'x'), {"xxxx"}, {}},
        PageCase{"DeeplyNestedElements",
                 [] {
                     std::string html;
                     for (int i = 0; i < 3000; ++i) html += "<span><b>";
                     return html + "deep";
                 }(),
                 {"deep"}, {}}),
    [](const ::testing::TestParamInfo<PageCase>& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace vexmor::epubtest
