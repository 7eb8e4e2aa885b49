// `vexmorchm-cli site` run as a program: on help files made for it and on
// the fixtures, reading back what it wrote.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "tests/common/case_name.h"
#include "tests/common/fixture_files.h"
#include "tests/site/page_links.h"
#include "tests/site/site_test_files.h"
#include "tests/site/written_site.h"

namespace vexmor::sitetest {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;

std::string StreamText(const std::vector<testsupport::ChmEntry>& entries, const std::string& name) {
    for (const testsupport::ChmEntry& entry : entries)
        if (entry.name == name) return std::string(entry.bytes.begin(), entry.bytes.end());
    ADD_FAILURE() << "no stream " << name;
    return {};
}

class GbkSite : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        site_ = new WrittenSite;
        WriteSite(GbkHelpEntries(), *site_);
    }
    static void TearDownTestSuite() {
        delete site_;
        site_ = nullptr;
    }
    static const WrittenSite& Site() { return *site_; }
    static std::string Written(const std::string& path) { return ReadFile(fs::path(site_->folder) / path); }

private:
    static WrittenSite* site_;
};
WrittenSite* GbkSite::site_ = nullptr;

TEST_F(GbkSite, WritesEveryStreamButTheBookkeepingAndThePagesOfItsOwn) {
    ASSERT_EQ(Site().run.exitStatus, 0) << Site().run.err;
    EXPECT_NE(Site().run.err.find("entry page: " + Site().folder + "/$index.html"), std::string::npos) << Site().run.err;
    for (const char* path : {"$index.html", "$keywords.html", "$site.css", "$search.js", "toc.hhc", "index.hhk",
                             "html/Intro.htm", "html/Install.htm", "styles/main.css", "html/images/logo.gif",
                             "images/bg.gif"})
        EXPECT_TRUE(fs::is_regular_file(fs::path(Site().folder) / path)) << path;
    EXPECT_FALSE(fs::exists(fs::path(Site().folder) / "#SYSTEM"));
    // Streams that are no page stay byte for byte.
    EXPECT_EQ(Written("toc.hhc"), StreamText(GbkHelpEntries(), "/toc.hhc"));
    EXPECT_EQ(Written("html/images/logo.gif"), StreamText(GbkHelpEntries(), "/html/images/logo.gif"));
}

TEST_F(GbkSite, EntryPageShowsTheTitleAndContentsInUtf8WithTheDefaultTopic) {
    const std::string entry = Written("$index.html");
    EXPECT_NE(entry.find("<title>" + std::string(kHelpTitle) + "</title>"), std::string::npos);
    for (const std::string& name : GbkContentsNames()) EXPECT_NE(entry.find(">" + name + "<"), std::string::npos) << name;
    // The default topic is written "html/intro.htm"; the stream is html/Intro.htm.
    EXPECT_NE(entry.find("<iframe name=\"topic\" title=\"topic\" src=\"html/Intro.htm\">"), std::string::npos) << entry;
    EXPECT_NE(entry.find("<a href=\"html/Intro.htm\" target=\"topic\">简介</a>"), std::string::npos);
    EXPECT_NE(entry.find("<a href=\"html/Install.htm\" target=\"topic\">安装</a>"), std::string::npos);
    EXPECT_NE(entry.find("<a href=\"html/Install.htm#download\" target=\"topic\">下载</a>"), std::string::npos);
    const std::string keywords = Written("$keywords.html");
    EXPECT_NE(keywords.find("<a href=\"html/Intro.htm\" target=\"topic\">简介</a>"), std::string::npos) << keywords;
    EXPECT_NE(keywords.find("<a href=\"html/Install.htm\" target=\"topic\">安装</a>"), std::string::npos);
    EXPECT_NE(keywords.find("<a href=\"html/Install.htm#download\" target=\"topic\">下载</a>"), std::string::npos);
}

TEST_F(GbkSite, RepairsTheLinksAndNamesTheCharsetOfTheTopic) {
    const std::string original = StreamText(GbkHelpEntries(), "/html/Intro.htm");
    const std::string written = Written("html/Intro.htm");
    EXPECT_EQ(DifferenceOutsideValues(original, written), "");
    EXPECT_NE(written.find("<head><meta charset=\"gbk\">"), std::string::npos) << written;
    EXPECT_NE(written.find("href=\"../styles/main.css\""), std::string::npos) << written;
    EXPECT_NE(written.find("src=\"images/logo.gif\""), std::string::npos) << written;
    EXPECT_EQ(written.find("ms-its:"), std::string::npos) << written;
    EXPECT_EQ(written.find("mk:@MSITStore:"), std::string::npos) << written;
    EXPECT_NE(written.find(Gbk(kIntroText)), std::string::npos);
    // A page that names its charset and links right stays as it is.
    EXPECT_EQ(Written("html/Install.htm"), StreamText(GbkHelpEntries(), "/html/Install.htm"));
    EXPECT_EQ(Written("styles/main.css"), "body { background: url(../images/bg.gif) repeat-x; color: #123; }\n");
}

TEST_F(GbkSite, EveryRelativeLinkLeadsToAWrittenFile) {
    const LinkCheck check = CheckSiteLinks(Site().folder, StreamPaths(Site().chm));
    EXPECT_GE(check.links, 10u);
    EXPECT_EQ(check.broken, std::vector<std::string>{});
    EXPECT_EQ(check.unheld, std::vector<std::string>{});
}

TEST(HostileSite, ShowsHostileNamesAsTextAndLinksNothingOutside) {
    WrittenSite site;
    WriteSite(HostileHelpEntries(), site);
    ASSERT_EQ(site.run.exitStatus, 0) << site.run.err;
    const std::string entry = ReadFile(fs::path(site.folder) / "$index.html");
    EXPECT_NE(entry.find("&lt;img src=x onerror=alert(1)&gt;"), std::string::npos);
    EXPECT_NE(entry.find("&lt;/title&gt;&lt;script&gt;alert(4)&lt;/script&gt;"), std::string::npos);
    EXPECT_NE(entry.find("&lt;script&gt;alert(2)&lt;/script&gt;"), std::string::npos);
    EXPECT_EQ(entry.find("<img"), std::string::npos);
    EXPECT_EQ(entry.find("<script>"), std::string::npos);
    EXPECT_EQ(entry.find("javascript:"), std::string::npos);
    EXPECT_EQ(entry.find("file:"), std::string::npos);
    EXPECT_EQ(entry.find("passwd"), std::string::npos);
    EXPECT_EQ(entry.find("server"), std::string::npos);
    EXPECT_EQ(entry.find("onmouseover=\""), std::string::npos);
    // The entry below 200000 levels of lists is there, at the depth shown.
    EXPECT_NE(entry.find(">deep<"), std::string::npos);
    std::size_t links = 0;
    for (const PageLink& link : LinksOf(entry)) {
        if (link.value == "$site.css" || link.value == "$search.js" || link.value.starts_with("$")) continue;
        ++links;
        EXPECT_EQ(link.value, "a.htm") << link.element << " " << link.attribute;
    }
    EXPECT_EQ(links, 4u);  // "<script>alert(2)</script>", "page", "deep", and the topic frame
    const LinkCheck check = CheckSiteLinks(site.folder, StreamPaths(site.chm));
    EXPECT_EQ(check.broken, std::vector<std::string>{});
    EXPECT_EQ(check.unheld, std::vector<std::string>{});
}

// On each fixture: every page changed only inside its link values, and
// every relative link leads to a written file unless the help file does not
// hold its target under any case.
class FixtureSite : public ::testing::TestWithParam<const char*> {};

TEST_P(FixtureSite, LinksResolveExceptToWhatTheFileDoesNotHold) {
    const std::string chm = test::DataFile(GetParam());
    WrittenSite site;
    WriteSiteOf(chm, site);
    ASSERT_EQ(site.run.exitStatus, 0) << site.run.err;
    ASSERT_TRUE(fs::is_regular_file(fs::path(site.folder) / "$index.html"));

    WrittenSite extracted;
    extracted.run = test::RunCli({"extract", chm, extracted.dir / "plain"}, extracted.dir.path().string());
    ASSERT_EQ(extracted.run.exitStatus, 0) << extracted.run.err;
    std::size_t pages = 0, changed = 0;
    for (const auto& file : fs::recursive_directory_iterator(extracted.dir / "plain")) {
        if (!file.is_regular_file()) continue;
        const std::string inner = fs::relative(file.path(), extracted.dir / "plain").string();
        std::string folded = inner;
        for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (inner.starts_with('#') || inner.starts_with('$') || inner.starts_with("::")) continue;
        const fs::path written = fs::path(site.folder) / inner;
        ASSERT_TRUE(fs::is_regular_file(written)) << inner;
        if (!folded.ends_with(".htm") && !folded.ends_with(".html")) continue;
        ++pages;
        const std::string before = ReadFile(file.path());
        const std::string after = ReadFile(written);
        changed += before != after;
        EXPECT_EQ(DifferenceOutsideValues(before, after), "") << inner;
    }

    const LinkCheck check = CheckSiteLinks(site.folder, StreamPaths(chm));
    EXPECT_EQ(check.broken, std::vector<std::string>{});
    std::cout << GetParam() << ": " << pages << " pages (" << changed << " changed), " << check.links
              << " relative links, " << check.unheld.size() << " to what the file does not hold\n";
    for (const std::string& unheld : check.unheld) std::cout << "  " << unheld << "\n";
}

INSTANTIATE_TEST_SUITE_P(Fixtures, FixtureSite, ::testing::Values("small.chm", "openmcdf.chm"),
                         [](const auto& param) { return test::TestNameOf(param.param); });

}  // namespace
}  // namespace vexmor::sitetest
