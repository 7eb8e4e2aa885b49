#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "site/css_links.h"
#include "site/page_rewrite.h"
#include "site/site_names.h"
#include "tests/common/case_name.h"
#include "tests/site/site_test_files.h"

namespace vexmor::site {
namespace {

using sitetest::Gbk;

const sitetest::OpenHelpFile& PageFile() {
    static const sitetest::OpenHelpFile file({
        {"/html/Intro.htm", testsupport::ToBytes("a"), 0},
        {"/html/Install.htm", testsupport::ToBytes("b"), 0},
        {"/html/images/logo.gif", testsupport::ToBytes("c"), 0},
        {"/styles/main.css", testsupport::ToBytes("d"), 0},
        {"/a b.htm", testsupport::ToBytes("e"), 0},
        // The second byte of 昞 in GBK is '\'.
        {"/中文/昞.htm", testsupport::ToBytes("f"), 0},
    });
    return file;
}

const PageCharset kGbk{"GBK", "gbk"};

// A page made of pieces: the bytes of the page, and what each becomes.
struct Piece {
    std::string before;
    std::string after;
};
Piece Same(std::string text) { return {text, text}; }

// Outside the rewritten attribute values and the inserted declaration,
// every byte is the page's own: the whole output is compared.
TEST(RewritePage, ChangesOnlyLinkValuesAndInsertsTheCharset) {
    const SiteNames names(PageFile().Items());
    const std::vector<Piece> pieces{
        Same("<!DOCTYPE html>\n<HTML>\n<Head lang=zh-CN >"),
        {"", "<meta charset=\"gbk\">"},
        Same("\n<title>" + Gbk("简介") + "</title>\n<link rel=stylesheet href="),
        {"'../Styles/Main.CSS'", "\"../styles/main.css\""},
        Same(">\n<!-- <a href=\"INTRO.HTM\">a comment</a> -->\n"
             "<script>var s = '<a href=\"intro.htm\">';</script>\n</HEAD>\n<BODY BACKGROUND="),
        {"images/LOGO.GIF", "\"images/logo.gif\""},
        Same(">\n<a  HREF = "),
        {"\"intro.htm\"", "\"Intro.htm\""},
        Same(" title=\"Images/LOGO.GIF\">" + Gbk("简介") + "</a>\n<a href=\"Intro.htm\">exact</a>\n<a href="),
        {"\"intro.htm#a&amp;b\"", "\"Intro.htm#a&amp;b\""},
        Same(">x</a>\n<img src="),
        {"\"Images\\LOGO.GIF\"", "\"images/logo.gif\""},
        Same(" alt='Images/LOGO.GIF'>\n<map><area shape=rect href="),
        {"\"ms-its:test.chm::/html/install.htm\"", "\"Install.htm\""},
        Same("></map>\n<p style=\"color: red; background: url('"),
        {"IMAGES/logo.GIF", "images/logo.gif"},
        Same("')\">" + Gbk("中文") + " Images/LOGO.GIF intro.htm</p>\n<a href="),
        {"\"../中文/昞.htm\"", "\"../%E4%B8%AD%E6%96%87/%E6%98%9E.htm\""},
        Same(">gbk</a> <a href=\"../中文/昞X.htm\">missing, left alone</a>\n"
             "<a href=\"http://Example.com/Intro.HTM\">web</a> <a href=javascript:void(0)>js</a>\n"
             "<a href=\"missing.htm\">missing</a>\n</BODY>\n</HTML>\n"),
    };
    std::string page, expected;
    for (const Piece& piece : pieces) {
        // The page is in GBK, as its help file's language says.
        page += piece.before.find("中文") != std::string::npos || piece.before.find("昞") != std::string::npos
                    ? Gbk(piece.before)
                    : piece.before;
        expected += piece.after.find("中文/昞X") != std::string::npos ? Gbk(piece.after) : piece.after;
    }
    const std::string rewritten = RewritePage(page, LinkContext{&names, "html", "test.chm"}, kGbk);
    EXPECT_EQ(rewritten, expected);
}

TEST(RewritePage, RewritesLinksOfFramesets) {
    const SiteNames names(PageFile().Items());
    const std::string page =
        "<html><head><meta charset=\"utf-8\"></head><frameset cols=\"*,*\"><frame src=\"INTRO.htm\">"
        "<frame src=\"images/logo.GIF\"></frameset></html>";
    EXPECT_EQ(RewritePage(page, LinkContext{&names, "html", "test.chm"}, kGbk),
              "<html><head><meta charset=\"utf-8\"></head><frameset cols=\"*,*\"><frame src=\"Intro.htm\">"
              "<frame src=\"images/logo.gif\"></frameset></html>");
}

TEST(RewritePage, RewritesUrlsInStyleElements) {
    const SiteNames names(PageFile().Items());
    const std::string page =
        "<html><head><meta charset=\"utf-8\"><style>\nbody { background: url(\"IMAGES/LOGO.gif\") }\n"
        "/* url(INTRO.HTM) */ @import \"../Styles/main.CSS\";\n</style></head><body></body></html>";
    EXPECT_EQ(RewritePage(page, LinkContext{&names, "html", "test.chm"}, kGbk),
              "<html><head><meta charset=\"utf-8\"><style>\nbody { background: url(\"images/logo.gif\") }\n"
              "/* url(INTRO.HTM) */ @import \"../styles/main.css\";\n</style></head><body></body></html>");
}

// `data` holds a link on <object> only; other elements keep their own data there.
TEST(RewritePage, LeavesTheDataOfOtherElements) {
    const SiteNames names(PageFile().Items());
    const std::string page =
        "<html><head><meta charset=\"utf-8\"></head><body><div data=\"INTRO.HTM\"></div>"
        "<object data=\"INTRO.HTM\"></object></body></html>";
    EXPECT_EQ(RewritePage(page, LinkContext{&names, "html", "test.chm"}, kGbk),
              "<html><head><meta charset=\"utf-8\"></head><body><div data=\"INTRO.HTM\"></div>"
              "<object data=\"Intro.htm\"></object></body></html>");
}

struct CharsetCase {
    const char* what;
    std::string page;
    PageCharset charset;
    std::string expected;  // empty: the page as it is
};

class PageCharsetTest : public ::testing::TestWithParam<CharsetCase> {};

TEST_P(PageCharsetTest, NamesTheCharsetOnlyWhereThePageHasNone) {
    const CharsetCase& c = GetParam();
    const SiteNames names(PageFile().Items());
    const std::string rewritten = RewritePage(c.page, LinkContext{&names, "", "test.chm"}, c.charset);
    EXPECT_EQ(rewritten, c.expected.empty() ? c.page : c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Pages, PageCharsetTest,
    ::testing::Values(
        CharsetCase{"meta_charset_kept", "<html><head><meta charset=\"windows-1252\"></head><body>\xE9</body></html>",
                    kGbk, ""},
        CharsetCase{"http_equiv_kept",
                    "<HTML><HEAD><META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=big5\"></HEAD>"
                    "<BODY>\xA4\xA4</BODY></HTML>",
                    kGbk, ""},
        CharsetCase{"byte_order_mark_kept", "\xEF\xBB\xBF<html><head></head><body>\xE4\xB8\xAD</body></html>", kGbk,
                    ""},
        CharsetCase{"gbk_after_head", "<html><head><title>" + Gbk("简介") + "</title></head><body></body></html>",
                    kGbk,
                    "<html><head><meta charset=\"gbk\"><title>" + Gbk("简介") + "</title></head><body></body></html>"},
        CharsetCase{"after_head_with_attributes",
                    "<HTML>\n<HEAD PROFILE=\"x\">\n</HEAD><BODY>" + Gbk("中文") + "</BODY></HTML>", kGbk,
                    "<HTML>\n<HEAD PROFILE=\"x\"><meta charset=\"gbk\">\n</HEAD><BODY>" + Gbk("中文") +
                        "</BODY></HTML>"},
        CharsetCase{"after_html_without_head", "<html><body>" + Gbk("中文") + "</body></html>", kGbk,
                    "<html><meta charset=\"gbk\"><body>" + Gbk("中文") + "</body></html>"},
        CharsetCase{"before_first_tag", "<p>" + Gbk("中文") + "</p>", kGbk,
                    "<meta charset=\"gbk\"><p>" + Gbk("中文") + "</p>"},
        CharsetCase{"content_type_without_charset",
                    "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html\"></head><body>" +
                        Gbk("中文") + "</body></html>",
                    kGbk,
                    "<html><head><meta charset=\"gbk\"><meta http-equiv=\"Content-Type\" content=\"text/html\">"
                    "</head><body>" +
                        Gbk("中文") + "</body></html>"},
        CharsetCase{"charset_in_a_comment_counts_for_nothing",
                    "<html><head><!-- charset=utf-8 --></head><body>" + Gbk("中文") + "</body></html>", kGbk,
                    "<html><head><meta charset=\"gbk\"><!-- charset=utf-8 --></head><body>" + Gbk("中文") +
                        "</body></html>"},
        CharsetCase{"valid_utf8_is_utf8", "<html><head></head><body>中文</body></html>", kGbk,
                    "<html><head><meta charset=\"utf-8\"></head><body>中文</body></html>"},
        CharsetCase{"ascii_gets_the_files_code_page", "<html><head></head><body>a</body></html>", kGbk,
                    "<html><head><meta charset=\"gbk\"></head><body>a</body></html>"},
        CharsetCase{"unknown_language_adds_nothing", "<html><head></head><body>\xE9</body></html>", PageCharset{},
                    ""}),
    test::CaseName<CharsetCase>);

struct CssCase {
    const char* what;
    std::string css;
    std::string expected;  // empty: the sheet as it is
};

class RewriteCssTest : public ::testing::TestWithParam<CssCase> {};

TEST_P(RewriteCssTest, RewritesOnlyTheLinks) {
    const CssCase& c = GetParam();
    const SiteNames names(PageFile().Items());
    EXPECT_EQ(RewriteCss(c.css, LinkContext{&names, "styles", "test.chm"}, "GBK"),
              c.expected.empty() ? c.css : c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Sheets, RewriteCssTest,
    ::testing::Values(
        CssCase{"url_unquoted", "body{background:url(../html/Images/LOGO.GIF) no-repeat}",
                "body{background:url(../html/images/logo.gif) no-repeat}"},
        CssCase{"url_quoted_with_spaces", "a{b:url( \"Main.CSS\" )}", "a{b:url( \"main.css\" )}"},
        CssCase{"url_upper_case", "a{b:URL(MAIN.css)}", "a{b:URL(main.css)}"},
        CssCase{"import_string", "@import \"MAIN.css\";\np{}", "@import \"main.css\";\np{}"},
        CssCase{"import_url", "@import url('Main.CSS') screen;", "@import url('main.css') screen;"},
        CssCase{"backslashes", "a{b:url(..\\html\\images\\logo.gif)}", "a{b:url(../html/images/logo.gif)}"},
        CssCase{"space_encoded", "a{b:url(\"../a b.htm\")}", "a{b:url(\"../a%20b.htm\")}"},
        CssCase{"gbk_name", Gbk("a{b:url(\"../中文/昞.htm\")}"), "a{b:url(\"../%E4%B8%AD%E6%96%87/%E6%98%9E.htm\")}"},
        CssCase{"comment_untouched", "/* url(MAIN.CSS) @import \"MAIN.CSS\"; */ p{}", ""},
        CssCase{"string_untouched", "a::after{content:\"url(MAIN.CSS)\"}", ""},
        CssCase{"http_untouched", "a{b:url(http://example.com/MAIN.CSS)}", ""},
        CssCase{"missing_untouched", "a{b:url(nothing.png)}", ""},
        CssCase{"unterminated_url", "a{b:url(MAIN.CSS", ""},
        CssCase{"unterminated_string", "a{b:url(\"MAIN.CSS)}", ""},
        CssCase{"unterminated_comment", "a{} /* url(MAIN.CSS)", ""}),
    test::CaseName<CssCase>);

// The quick look lets a page through untouched only when nothing in it
// could change: every page it passes over must be one the rewrite keeps.
const sitetest::OpenHelpFile& LookFile() {
    static const sitetest::OpenHelpFile file({
        {"/lcl/Forms/TForm.html", testsupport::ToBytes("a"), 0},
        {"/lcl/Forms/index.html", testsupport::ToBytes("b"), 0},
        {"/README", testsupport::ToBytes("c"), 0},
        {"/2006/a.htm", testsupport::ToBytes("d"), 0},
        {"/Img/x.gif", testsupport::ToBytes("e"), 0},
        {"/img/y.gif", testsupport::ToBytes("f"), 0},
    });
    return file;
}

struct LookCase {
    const char* what;
    std::string page;
    bool mayNeedRewrite;
};

class QuickLook : public ::testing::TestWithParam<LookCase> {};

TEST_P(QuickLook, PassesOverOnlyPagesWithNothingToChange) {
    const SiteNames names(LookFile().Items());
    const LookCase& c = GetParam();
    const std::string page = "<meta charset=utf-8>" + c.page;
    EXPECT_EQ(PageMayNeedRewrite(page, names), c.mayNeedRewrite);
    if (!c.mayNeedRewrite) {
        EXPECT_EQ(RewritePage(page, LinkContext{&names, "lcl", "t.chm"}, kGbk), page);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Site, QuickLook,
    ::testing::Values(
        LookCase{"ExactLinks", "<a href=\"Forms/TForm.html\">x</a> <a href=\"../README\">r</a>", false},
        LookCase{"FolderSpelledTwoWays", "<img src=\"../img/y.gif\">", true},
        LookCase{"NameUnderAnotherCase", "<a href=\"Forms/tform.HTML\">x</a>", true},
        LookCase{"NameWithoutDotUnderAnotherCase", "<a href=\"../readme\">r</a>", true},
        // A word seen first as stored and then under another case.
        LookCase{"SameWordLaterUnderAnotherCase",
                 "<a href=\"Forms/TForm.html\">1</a> <a href=\"Forms/TForm.html\">2</a> <a href=\"Forms/TFORM.html\">3</a>",
                 true},
        // A level without letters has one spelling only.
        LookCase{"LevelsWithoutLetters", "<a href=\"../2006/a.htm\">d</a> 1999/ 2.5 ..", false},
        LookCase{"HelpScheme", "<a href=\"ms-its:t.chm::/README\">r</a>", true},
        LookCase{"Backslash", "<a href=\"Forms\\TForm.html\">x</a>", true},
        LookCase{"NoCharsetDeclared", "</head>", false}),
    test::CaseName<LookCase>);

}  // namespace
}  // namespace vexmor::site
