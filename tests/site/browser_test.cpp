// The written site opened in headless Chromium, as a reader would open it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "tests/site/headless_browser.h"
#include "tests/site/page_links.h"
#include "tests/site/site_test_files.h"
#include "tests/site/written_site.h"

namespace vexmor::sitetest {
namespace {

namespace fs = std::filesystem;

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

std::vector<std::string> Failures(const std::vector<std::string>& report) {
    std::vector<std::string> failures;
    for (const std::string& line : report)
        if (!line.starts_with("OK ")) failures.push_back(line);
    return failures;
}

class BrowserSite : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!ChromiumInstalled()) return;
        site_ = new WrittenSite;
        WriteSite(GbkHelpEntries(), *site_);
    }
    static void TearDownTestSuite() {
        delete site_;
        site_ = nullptr;
    }
    void SetUp() override {
        if (!ChromiumInstalled()) GTEST_SKIP() << kChromium << " is not installed (Debian package chromium)";
        ASSERT_EQ(site_->run.exitStatus, 0) << site_->run.err;
    }
    static const WrittenSite& Site() { return *site_; }
    static std::string InSite(const std::string& path) { return (fs::path(site_->folder) / path).string(); }

private:
    static WrittenSite* site_;
};
WrittenSite* BrowserSite::site_ = nullptr;

TEST_F(BrowserSite, EntryPageShowsTheGbkContentsNamesAsChineseText) {
    const BrowserRun run = DumpDom(FileUrl(InSite("$index.html")));
    ASSERT_TRUE(run.finished) << "chromium did not finish in time";
    ASSERT_EQ(run.exitStatus, 0);
    EXPECT_NE(run.dom.find("<h1>" + std::string(kHelpTitle) + "</h1>"), std::string::npos) << run.dom;
    for (const std::string& name : GbkContentsNames()) EXPECT_NE(run.dom.find(">" + name + "<"), std::string::npos) << name;
    // The contents tree came through as elements, not as text.
    EXPECT_NE(run.dom.find("<details open=\"\"><summary>"), std::string::npos) << run.dom;
}

TEST_F(BrowserSite, EveryContentsLinkLoadsAnExistingPage) {
    const BrowserRun run = DumpDom(FileUrl(InSite("$index.html")));
    ASSERT_TRUE(run.finished) << "chromium did not finish in time";
    std::set<std::string> pages;
    for (const PageLink& link : LinksOf(run.dom)) {
        if (link.element != "a" || link.value.starts_with("$")) continue;
        ASSERT_TRUE(IsRelativeLink(link.value)) << link.value;
        const std::string path = LinkPath(link.value);
        EXPECT_TRUE(fs::is_regular_file(InSite(path))) << link.value;
        pages.insert(path);
    }
    EXPECT_EQ(pages, (std::set<std::string>{"html/Intro.htm", "html/Install.htm"}));
    for (const std::string& page : pages) {
        const std::vector<std::string> report = LoadReport(InSite(page));
        ASSERT_FALSE(report.empty()) << "the load check of " << page << " did not finish";
        EXPECT_EQ(Failures(report), std::vector<std::string>{}) << page << ":\n" << Joined(report);
    }
}

TEST_F(BrowserSite, DefaultTopicLoadsItsStyleSheetAndImagesUnderCaseMismatchedLinks) {
    const std::vector<std::string> report = LoadReport(InSite("html/Intro.htm"));
    ASSERT_FALSE(report.empty()) << "the load check did not finish";
    EXPECT_EQ(Failures(report), std::vector<std::string>{}) << Joined(report);
    const std::string text = Joined(report);
    EXPECT_NE(text.find("OK " + FileUrl(InSite("styles/main.css"))), std::string::npos) << text;
    EXPECT_NE(text.find("OK " + FileUrl(InSite("html/images/logo.gif"))), std::string::npos) << text;
    // Asked for by the style sheet: it loaded, and its own link was repaired.
    EXPECT_NE(text.find("OK " + FileUrl(InSite("images/bg.gif"))), std::string::npos) << text;
}

TEST_F(BrowserSite, LoadCheckFailsOnThePageAsStoredWithItsLinksUnrepaired) {
    // The same page with the links the help file holds: Styles/Main.CSS and
    // Images/LOGO.GIF do not exist on a file system that minds case.
    test::TempDir plain;
    const test::CliRun run = test::RunCli({"extract", Site().chm, plain / "out"}, plain.path().string());
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    const std::vector<std::string> report = LoadReport(plain / "out/html/Intro.htm");
    ASSERT_FALSE(report.empty()) << "the load check did not finish";
    const std::vector<std::string> failures = Failures(report);
    EXPECT_NE(std::find(failures.begin(), failures.end(), "FAILED " + FileUrl(plain / "out/Styles/Main.CSS")),
              failures.end())
        << Joined(report);
    EXPECT_NE(std::find(failures.begin(), failures.end(), "FAILED " + FileUrl(plain / "out/html/Images/LOGO.GIF")),
              failures.end())
        << Joined(report);
    // And a page that is not there at all.
    EXPECT_EQ(LoadReport(plain / "out/html/none.htm"), std::vector<std::string>{"NO DOCUMENT"});
}

TEST_F(BrowserSite, TopicWithoutCharsetShowsItsChineseText) {
    const BrowserRun run = DumpDom(FileUrl(InSite("html/Intro.htm")));
    ASSERT_TRUE(run.finished) << "chromium did not finish in time";
    EXPECT_NE(run.dom.find("<h1>" + std::string(kIntroText) + "</h1>"), std::string::npos) << run.dom;
}

TEST(BrowserHostileSite, ShowsHostileNamesAsTextOnly) {
    if (!ChromiumInstalled()) GTEST_SKIP() << kChromium << " is not installed (Debian package chromium)";
    WrittenSite site;
    WriteSite(HostileHelpEntries(), site);
    ASSERT_EQ(site.run.exitStatus, 0) << site.run.err;
    const BrowserRun run = DumpDom(FileUrl((fs::path(site.folder) / "$index.html").string()));
    ASSERT_TRUE(run.finished) << "chromium did not finish in time";
    // As the browser built the document: text, never an element.
    EXPECT_NE(run.dom.find("&lt;img src=x onerror=alert(1)&gt;"), std::string::npos) << run.dom;
    for (const PageLink& link : LinksOf(run.dom)) {
        EXPECT_NE(link.element, "img") << link.value;
        if (link.element == "script") {
            EXPECT_EQ(link.value, "$search.js");
        }
        EXPECT_FALSE(link.value.starts_with("javascript:")) << link.value;
        EXPECT_FALSE(link.value.starts_with("file:")) << link.value;
    }
    EXPECT_EQ(run.dom.find("<img"), std::string::npos);
}

}  // namespace
}  // namespace vexmor::sitetest
