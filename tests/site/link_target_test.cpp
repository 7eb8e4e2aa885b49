#include <gtest/gtest.h>

#include <string>

#include "site/link_target.h"
#include "site/site_names.h"
#include "tests/common/case_name.h"
#include "tests/site/site_test_files.h"

namespace vexmor::site {
namespace {

using Kind = LinkTarget::Kind;

const sitetest::OpenHelpFile& LinkFile() {
    static const sitetest::OpenHelpFile file({
        {"/html/Intro.htm", testsupport::ToBytes("a"), 0},
        {"/html/Install.htm", testsupport::ToBytes("b"), 0},
        {"/html/images/logo.gif", testsupport::ToBytes("c"), 0},
        {"/html/sub/deep.htm", testsupport::ToBytes("d"), 0},
        {"/styles/main.css", testsupport::ToBytes("e"), 0},
        {"/a b.htm", testsupport::ToBytes("f"), 0},
        {"/中文/页面.htm", testsupport::ToBytes("g"), 0},
        {"/100%.htm", testsupport::ToBytes("h"), 0},
        {"/#SYSTEM", testsupport::ToBytes("i"), 0},
    });
    return file;
}

struct LinkCase {
    const char* what;
    std::string folder;  // the page's
    std::string link;
    Kind kind;
    std::string href;  // empty for Keep and External
};

class ResolveLinkTest : public ::testing::TestWithParam<LinkCase> {};

TEST_P(ResolveLinkTest, GivesTheHrefABrowserFollows) {
    const LinkCase& c = GetParam();
    const SiteNames names(LinkFile().Items());
    const LinkTarget target = ResolveLink(c.link, LinkContext{&names, c.folder, "test.chm"});
    EXPECT_EQ(target.kind, c.kind) << c.link;
    EXPECT_EQ(target.href, c.href) << c.link;
    // Only a link to resolve gets an href; it is `changed` when it differs.
    const bool resolved = c.kind == Kind::InFile || c.kind == Kind::OtherFile || c.kind == Kind::Missing;
    EXPECT_EQ(target.changed, resolved && c.href != c.link) << c.link;
}

INSTANTIATE_TEST_SUITE_P(
    Links, ResolveLinkTest,
    ::testing::Values(
        // A link already right stays byte for byte.
        LinkCase{"exact", "html", "Intro.htm", Kind::InFile, "Intro.htm"},
        LinkCase{"exact_encoded_space", "", "a%20b.htm", Kind::InFile, "a%20b.htm"},
        // Letter case: the stored name wins.
        LinkCase{"case_of_name", "html", "intro.htm", Kind::InFile, "Intro.htm"},
        LinkCase{"case_of_folder_and_name", "html", "../Styles/Main.CSS", Kind::InFile, "../styles/main.css"},
        LinkCase{"case_below", "html", "Images/LOGO.GIF", Kind::InFile, "images/logo.gif"},
        LinkCase{"case_from_root", "", "HTML/SUB/Deep.HTM", Kind::InFile, "html/sub/deep.htm"},
        LinkCase{"case_from_deeper_folder", "html/sub", "../INTRO.htm#top", Kind::InFile, "../Intro.htm#top"},
        LinkCase{"dot_levels", "html", "./sub/../images/./Logo.gif", Kind::InFile, "images/logo.gif"},
        LinkCase{"query_and_fragment_kept", "html", "intro.htm?x=1#a b", Kind::InFile, "Intro.htm?x=1#a%20b"},
        // '\' is a folder separator to the help compiler.
        LinkCase{"backslashes", "html", "..\\styles\\main.css", Kind::InFile, "../styles/main.css"},
        LinkCase{"backslashes_missing", "html", "..\\nothing\\here.htm", Kind::Missing, "../nothing/here.htm"},
        // Spaces, '%' and names beyond ASCII as a browser expects them.
        LinkCase{"space", "html", "../a b.htm", Kind::InFile, "../a%20b.htm"},
        LinkCase{"percent_in_name", "", "100%.HTM", Kind::InFile, "100%25.htm"},
        LinkCase{"non_ascii", "html", "../中文/页面.htm", Kind::InFile,
                 "../%E4%B8%AD%E6%96%87/%E9%A1%B5%E9%9D%A2.htm"},
        LinkCase{"non_ascii_encoded", "", "%E4%B8%AD%E6%96%87/%E9%A1%B5%E9%9D%A2.htm", Kind::InFile,
                 "%E4%B8%AD%E6%96%87/%E9%A1%B5%E9%9D%A2.htm"},
        // The help schemes into this file become relative links.
        LinkCase{"ms_its_same_file", "html", "ms-its:test.chm::/html/Install.htm", Kind::InFile, "Install.htm"},
        LinkCase{"ms_its_same_file_other_case", "", "MS-ITS:TEST.CHM::/Styles/Main.css", Kind::InFile,
                 "styles/main.css"},
        LinkCase{"mk_msitstore_with_folders", "html/sub", "mk:@MSITStore:C:\\Help\\test.chm::/html/intro.htm",
                 Kind::InFile, "../Intro.htm"},
        LinkCase{"its_without_leading_slash", "html", "its:test.chm::html/install.htm#part", Kind::InFile,
                 "Install.htm#part"},
        LinkCase{"ms_its_without_file", "html", "ms-its:::/html/Intro.htm", Kind::InFile, "Intro.htm"},
        LinkCase{"ms_its_backslashes", "", "ms-its:test.chm::\\html\\images\\logo.gif", Kind::InFile,
                 "html/images/logo.gif"},
        // Into another help file: its folder beside this one.
        LinkCase{"ms_its_other_file", "html", "ms-its:other.chm::/topics/a.htm", Kind::OtherFile,
                 "../../other/topics/a.htm"},
        LinkCase{"ms_its_other_file_from_root", "", "ms-its:C:\\x\\Other Book.chm::/a b.htm#f", Kind::OtherFile,
                 "../Other%20Book/a%20b.htm#f"},
        LinkCase{"other_file_climbing_out", "", "ms-its:other.chm::/../../etc/passwd", Kind::Missing,
                 "ms-its:other.chm::/../../etc/passwd"},
        LinkCase{"other_file_named_dotdot", "", "ms-its:..::/a.htm", Kind::Missing, "ms-its:..::/a.htm"},
        LinkCase{"help_scheme_without_path", "", "ms-its:test.chm", Kind::Missing, "ms-its:test.chm"},
        // Links that leave the folder or name nothing held stay as written.
        LinkCase{"climbs_out", "html", "../../outside.htm", Kind::Missing, "../../outside.htm"},
        LinkCase{"climbs_out_encoded", "html", "..%2F..%2Fetc%2Fpasswd", Kind::Missing, "..%2F..%2Fetc%2Fpasswd"},
        LinkCase{"same_file_climbing_out", "", "ms-its:test.chm::/../html/Intro.htm", Kind::Missing,
                 "ms-its:test.chm::/../html/Intro.htm"},
        LinkCase{"missing", "html", "missing.htm", Kind::Missing, "missing.htm"},
        LinkCase{"bookkeeping_stream_by_path", "", "/%23SYSTEM", Kind::Missing, "/%23SYSTEM"},
        // Other schemes are no business of the export.
        LinkCase{"http", "html", "http://example.com/Intro.htm", Kind::External, ""},
        LinkCase{"https_upper", "html", "HTTPS://example.com/", Kind::External, ""},
        LinkCase{"mailto", "", "mailto:someone@example.com", Kind::External, ""},
        LinkCase{"javascript", "html", "javascript:alert(1)", Kind::Keep, ""},
        LinkCase{"file", "html", "file:///etc/passwd", Kind::Keep, ""},
        LinkCase{"fragment", "html", "#top", Kind::Keep, ""},
        LinkCase{"network_path", "html", "//server/share/a.htm", Kind::Keep, ""},
        LinkCase{"empty", "html", "", Kind::Keep, ""}),
    test::CaseName<LinkCase>);

TEST(PercentEncode, LeavesUnreservedBytesAndEncodesTheRest) {
    EXPECT_EQ(PercentEncode("a-b_c.d~e"), "a-b_c.d~e");
    EXPECT_EQ(PercentEncode("a b\"<>#?%/"), "a%20b%22%3C%3E%23%3F%25%2F");
    EXPECT_EQ(PercentEncode("页"), "%E9%A1%B5");
    EXPECT_EQ(PercentEncode("?a=b c#f/g", true), "?a=b%20c#f/g");
}

TEST(SiteFolderNameOf, GivesAUsableFolderOrNothing) {
    EXPECT_EQ(SiteFolderNameOf("C:\\help\\Other.chm"), "Other");
    EXPECT_EQ(SiteFolderNameOf("dir/lcl.chm"), "lcl");
    EXPECT_EQ(SiteFolderNameOf("noext"), "noext");
    EXPECT_EQ(SiteFolderNameOf(".."), "");
    EXPECT_EQ(SiteFolderNameOf("..."), "");
    EXPECT_EQ(SiteFolderNameOf(""), "");
    EXPECT_EQ(SiteFolderNameOf("dir/"), "");
}

}  // namespace
}  // namespace vexmor::site
