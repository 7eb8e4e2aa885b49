// `vexmorchm-cli epub` run as a program on help files made for it and on
// the fixtures: the book passes epubcheck, its table of contents follows the
// contents file, and its pages hold the help pages' text.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <regex>

#include "catalogue/inner_name.h"
#include "catalogue/uChmExtractor.h"
#include "epub/xhtml_page.h"
#include "site/site_facts.h"
#include "site/utf8_decoder.h"
#include "tests/common/fixture_files.h"
#include "tests/epub/epub_test_files.h"
#include "tests/epub/written_book.h"
#include "tests/site/site_test_files.h"

namespace vexmor::epubtest {
namespace {

namespace fs = std::filesystem;

void ExpectValid(const WrittenBook& book) {
    ASSERT_EQ(book.run.exitStatus, 0) << book.run.err;
    const EpubCheck check = CheckBook(book.book);
    if (!check.ran) GTEST_SKIP() << "epubcheck is not installed (java -jar /usr/share/java/epubcheck.jar)";
    EXPECT_EQ(check.errors, 0) << check.output;
    std::cout << "epubcheck: " << check.errors << " errors, " << check.warnings << " warnings\n";
}

void ExpectContainer(const WrittenBook& book) {
    ASSERT_FALSE(book.order.empty());
    EXPECT_EQ(book.order.front(), "mimetype");
    EXPECT_TRUE(book.stored.at("mimetype"));
    EXPECT_EQ(book.entries.at("mimetype"), "application/epub+zip");
    ASSERT_TRUE(book.entries.count("META-INF/container.xml"));
    EXPECT_NE(book.entries.at("META-INF/container.xml").find("full-path=\"package.opf\""), std::string::npos);
    ASSERT_TRUE(book.entries.count("package.opf"));
    ASSERT_TRUE(book.entries.count("nav.xhtml"));
    ASSERT_TRUE(book.entries.count("toc.ncx"));
    // Nothing is left beside the book.
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(book.dir.path())) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    const std::string chmName = fs::path(book.chm).parent_path() == book.dir.path() ? fs::path(book.chm).filename().string() : "";
    std::vector<std::string> expected{"book.epub"};
    if (!chmName.empty()) expected.push_back(chmName);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names, expected);
}

class OldBook : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        book_ = new WrittenBook;
        WriteBook(OldBookEntries(), *book_);
    }
    static void TearDownTestSuite() {
        delete book_;
        book_ = nullptr;
    }
    static const WrittenBook& Book() { return *book_; }
    static std::string Entry(const std::string& name) {
        const auto found = book_->entries.find(name);
        if (found == book_->entries.end()) {
            ADD_FAILURE() << "no entry " << name;
            return {};
        }
        return found->second;
    }

private:
    static WrittenBook* book_;
};
WrittenBook* OldBook::book_ = nullptr;

TEST_F(OldBook, PassesEpubcheck) {
    ExpectContainer(Book());
    ExpectValid(Book());
}

TEST_F(OldBook, ManifestHoldsPagesSheetsAndImagesOnly) {
    const std::string opf = Entry("package.opf");
    for (const char* href : {"OEBPS/start.xhtml", "OEBPS/tables.xhtml", "OEBPS/scripts.xhtml", "OEBPS/style.css",
                             "OEBPS/pic.gif", "OEBPS/odd%20name_.xhtml"})
        EXPECT_NE(opf.find(std::string("href=\"") + href + "\""), std::string::npos) << href;
    for (const char* left : {"SYSTEM", "toc.hhc", "image.bmp", "notes.txt"})
        EXPECT_EQ(opf.find(left), std::string::npos) << left;
    // Two names that differ only in case get two entries.
    EXPECT_TRUE(Book().entries.count("OEBPS/Dup.xhtml"));
    EXPECT_TRUE(Book().entries.count("OEBPS/dup-2.xhtml"));
    EXPECT_NE(opf.find("<dc:language>en-US</dc:language>"), std::string::npos);
    EXPECT_NE(opf.find("<dc:title>Old Book</dc:title>"), std::string::npos);
    EXPECT_TRUE(std::regex_search(opf, std::regex("<dc:identifier id=\"book-id\">urn:uuid:[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}</dc:identifier>")));
    EXPECT_TRUE(std::regex_search(opf, std::regex("dcterms:modified\">[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:]{8}Z<")));
    // The spine: contents order first, then the pages the contents do not name.
    const auto spinePlace = [&](const std::string& href) {
        std::smatch id;
        if (!std::regex_search(opf, id, std::regex("<item id=\"(r[0-9]+)\" href=\"" + href + "\"")))
            return std::string::npos;
        return opf.find("<itemref idref=\"" + id[1].str() + "\"/>");
    };
    const std::vector<std::size_t> places{spinePlace("OEBPS/start.xhtml"), spinePlace("OEBPS/tables.xhtml"),
                                          spinePlace("OEBPS/scripts.xhtml"), spinePlace("OEBPS/Dup.xhtml")};
    EXPECT_TRUE(std::is_sorted(places.begin(), places.end()));
    EXPECT_NE(places.back(), std::string::npos);
}

TEST_F(OldBook, PresentationalMarkupBecomesCss) {
    const std::string page = Entry("OEBPS/start.xhtml");
    for (const char* css : {"text-align:center;", "color:red;font-size:large;font-family:'Arial';",
                            "text-align:right;", "border:1px outset gray;", "border:1px inset gray;padding:4px;",
                            "vertical-align:top;", "white-space:nowrap;", "width:50%;", "background-color:silver;",
                            "background-color:#ffffcc;", "color:navy;", "margin-top:0px;", "a:link { color: blue; }",
                            "height:3px;", "clear:both;", "float:left;", "list-style-type:square;",
                            "font-family:monospace;", "font-size:larger;", "white-space:nowrap;"})
        EXPECT_NE(page.find(css), std::string::npos) << css << "\n" << page;
    for (const char* gone : {"<font", "<FONT", "<center", "bgcolor", "align=", "border=", "nowrap=", "<strike", "<tt"})
        EXPECT_EQ(page.find(gone), std::string::npos) << gone;
    // The text stays, the picture that is not in the book becomes its text.
    for (const char* text : {"Centred title", "Cell A", "Block in a font", "bmp picture", "lost picture", "stray text",
                             "Definition"})
        EXPECT_NE(page.find(text), std::string::npos) << text;
}

TEST_F(OldBook, LinksLeadToTheBooksFilesOrAreLeftOut) {
    const std::string page = Entry("OEBPS/start.xhtml");
    for (const char* link : {"href=\"tables.xhtml#t1\"", "href=\"scripts.xhtml\"", "href=\"#top\"",
                             "href=\"odd%20name_.xhtml\"", "href=\"Dup.xhtml\"", "href=\"style.css\"",
                             "src=\"pic.gif\"", "id=\"top\"", "id=\"_-1st\"", "href=\"#_-1st\""})
        EXPECT_NE(page.find(link), std::string::npos) << link;
    for (const char* gone : {"missing.htm", "notes.txt", "#nowhere", "href=\"pic.gif\"", "example.com/a b"})
        EXPECT_EQ(page.find(gone), std::string::npos) << gone;
    // The second element of the same id keeps its text but not the id.
    EXPECT_EQ(page.find("id=\"_-1st\"", page.find("id=\"_-1st\"") + 1), std::string::npos);
    EXPECT_NE(page.find("again"), std::string::npos);
    EXPECT_NE(Entry("OEBPS/style.css").find("url(pic.gif)"), std::string::npos);
    // A link to an id another page lacks: that page, written later, gets an
    // anchor of it; written before, the link leads to the page.
    const std::string tables = Entry("OEBPS/tables.xhtml");
    const bool anchored = tables.find("<span id=\"nothere\"></span>") != std::string::npos;
    EXPECT_NE(page.find(anchored ? "href=\"tables.xhtml#nothere\"" : "href=\"tables.xhtml\">no such id"),
              std::string::npos);
    const bool anchoredBack = page.find("<span id=\"gone\"></span>") != std::string::npos;
    EXPECT_NE(tables.find(anchoredBack ? "href=\"start.xhtml#gone\"" : "href=\"start.xhtml\">back"), std::string::npos);
    EXPECT_NE(anchored, anchoredBack);
}

TEST_F(OldBook, ScriptsAndControlsGoRelatedTopicsStayAsLinks) {
    const std::string page = Entry("OEBPS/scripts.xhtml");
    for (const char* gone : {"<script", "document.write", "onload", "onclick", "<object", "<param", "javascript:",
                             "<form", "<input", "<select", "<embed", "<applet"})
        EXPECT_EQ(page.find(gone), std::string::npos) << gone;
    for (const char* kept : {"href=\"tables.xhtml\">Tables topic</a>", "href=\"start.xhtml\">Start topic</a>",
                             "Shown without scripts", "Scripted page", "script link"})
        EXPECT_NE(page.find(kept), std::string::npos) << kept;
}

TEST_F(OldBook, TableOfContentsFollowsTheContentsFile) {
    const std::string nav = Entry("nav.xhtml");
    EXPECT_EQ(NavNames(nav), (std::vector<std::string>{"Start", "Tables", "Scripts"}));
    // A heading without a page stays as text above its entries; an entry
    // whose page the book lacks is left out.
    EXPECT_NE(nav.find("<span>Chapter</span>"), std::string::npos);
    EXPECT_EQ(nav.find("Gone"), std::string::npos);
    const std::string ncx = Entry("toc.ncx");
    EXPECT_NE(ncx.find("<content src=\"OEBPS/tables.xhtml#t1\"/>"), std::string::npos);
}

TEST(GbkBook, ReadsPagesWithoutCharsetInTheFilesCodePage) {
    WrittenBook book;
    WriteBook(sitetest::GbkHelpEntries(), book);
    ExpectContainer(book);
    ExpectValid(book);
    const std::string intro = book.entries["OEBPS/html/Intro.xhtml"];
    EXPECT_NE(intro.find(std::string(sitetest::kIntroText)), std::string::npos);
    EXPECT_NE(intro.find("href=\"../styles/main.css\""), std::string::npos);
    EXPECT_NE(intro.find("src=\"images/logo.gif\""), std::string::npos);
    EXPECT_NE(intro.find("href=\"Install.xhtml\""), std::string::npos);
    EXPECT_NE(book.entries["package.opf"].find("<dc:language>zh-CN</dc:language>"), std::string::npos);
    EXPECT_NE(book.entries["package.opf"].find(std::string(sitetest::kHelpTitle)), std::string::npos);
    const std::vector<std::string> names = sitetest::GbkContentsNames();
    EXPECT_EQ(NavNames(book.entries["nav.xhtml"]), (std::vector<std::string>{names[1], names[2], names[3]}));
    // The keyword index is a page of the book.
    EXPECT_NE(book.entries["keywords.xhtml"].find(names[1]), std::string::npos);
    EXPECT_NE(book.entries["package.opf"].find("<itemref idref=\"keywords\"/>"), std::string::npos);
}

TEST(HostileBook, ShowsHostileNamesAsTextAndLinksNothingOutside) {
    WrittenBook book;
    WriteBook(sitetest::HostileHelpEntries(), book);
    ExpectValid(book);
    const std::string nav = book.entries["nav.xhtml"];
    EXPECT_EQ(nav.find("<script"), std::string::npos);
    EXPECT_EQ(nav.find("<img"), std::string::npos);
    EXPECT_EQ(nav.find("passwd"), std::string::npos);
    EXPECT_NE(nav.find("deep"), std::string::npos);
}

TEST(EmptyBook, AHelpFileWithoutPagesStillGivesAValidBook) {
    WrittenBook book;
    WriteBook({{"/#SYSTEM", sitetest::SystemStream(0x1234, {{3, "Pictures"}}), 0},
               {"/pic.gif", sitetest::TinyGif(), 0}},
              book);
    ExpectContainer(book);
    ExpectValid(book);
    // A language the table lacks is "und".
    EXPECT_NE(book.entries["package.opf"].find("<dc:language>und</dc:language>"), std::string::npos);
    EXPECT_NE(book.entries["package.opf"].find("<itemref idref=\"nav\"/>"), std::string::npos);
}

TEST(BookTarget, SameFileGivesTheSameIdentifierAndAFailureLeavesNothing) {
    WrittenBook first;
    WriteBook(OldBookEntries(), first);
    ASSERT_EQ(first.run.exitStatus, 0) << first.run.err;
    const test::CliRun again = test::RunCli({"epub", first.chm, "again.epub"}, first.dir.path().string());
    ASSERT_EQ(again.exitStatus, 0) << again.err;
    const std::regex identifier("urn:uuid:[0-9a-f-]+");
    std::smatch one;
    ASSERT_TRUE(std::regex_search(first.entries["package.opf"], one, identifier));
    WrittenBook other;
    WriteBook(sitetest::GbkHelpEntries(), other);
    std::smatch two;
    ASSERT_TRUE(std::regex_search(other.entries["package.opf"], two, identifier));
    EXPECT_NE(one.str(), two.str());
    EXPECT_EQ(fs::file_size(first.dir / "again.epub"), fs::file_size(first.book));

    // A folder at the target, and a folder that cannot be written.
    fs::create_directory(first.dir / "shelf");
    EXPECT_EQ(test::RunCli({"epub", first.chm, "shelf"}, first.dir.path().string()).exitStatus, 1);
    if (::geteuid() != 0) {
        fs::permissions(first.dir / "shelf", fs::perms::owner_read | fs::perms::owner_exec);
        const test::CliRun refused = test::RunCli({"epub", first.chm, "shelf/b.epub"}, first.dir.path().string());
        EXPECT_EQ(refused.exitStatus, 1);
        EXPECT_NE(refused.err.find("shelf"), std::string::npos) << refused.err;
        fs::permissions(first.dir / "shelf", fs::perms::owner_all);
    }
    EXPECT_TRUE(fs::is_empty(first.dir / "shelf"));
    // A read-only book stays as it is, and the refusal names it.
    test::WriteFile(first.dir / "kept.epub", "kept");
    fs::permissions(first.dir / "kept.epub", fs::perms::owner_read);
    const test::CliRun kept = test::RunCli({"epub", first.chm, "kept.epub"}, first.dir.path().string());
    EXPECT_EQ(kept.exitStatus, 1);
    EXPECT_NE(kept.err.find("kept.epub"), std::string::npos) << kept.err;
    EXPECT_EQ(test::ReadFile(first.dir / "kept.epub"), "kept");
    // The open help file itself is never the target.
    const test::CliRun self = test::RunCli({"epub", first.chm, first.chm}, first.dir.path().string());
    EXPECT_EQ(self.exitStatus, 1);
    EXPECT_EQ(test::ReadFile(first.chm).substr(0, 4), "ITSF");
}

// Each fixture: a valid book whose pages hold the text of the help pages.
class FixtureBook : public ::testing::TestWithParam<std::string> {};

TEST_P(FixtureBook, PassesEpubcheckAndKeepsThePagesText) {
    const std::string chm = GetParam() == "lcl" ? test::SharedFixtureFile("lcl.chm") : test::DataFile(GetParam() + ".chm");
    if (!fs::exists(chm)) GTEST_SKIP() << chm << " is missing";
    WrittenBook book;
    WriteBookOf(chm, book);
    ExpectContainer(book);

    TChmExtractor extractor;
    extractor.Open(chm);
    const site::SiteFacts facts = site::ReadSiteFacts(extractor.Items(), chm);
    std::size_t pages = 0;
    for (std::size_t i = 0; i < extractor.Items().Count(); ++i) {
        const TChmItem& item = extractor.Items()[i];
        std::string path = InnerPathAndName(item.Path, item.Name);
        const std::size_t dot = path.rfind('.');
        if (dot == std::string::npos || path.starts_with('#') || path.starts_with('$')) continue;
        const std::string extension = path.substr(dot);
        if (extension != ".htm" && extension != ".html") continue;
        const std::string entry = "OEBPS/" + path.substr(0, dot) + ".xhtml";
        ASSERT_TRUE(book.entries.count(entry)) << entry;
        const std::optional<std::string> bytes = site::ReadStreamStart(item, 64u << 20);
        ASSERT_TRUE(bytes);
        const std::string utf8 = site::DecodeToUtf8(*bytes, epub::PageCharsetOf(*bytes, facts.charset.iconvName));
        EXPECT_EQ(BodyText(book.entries[entry]), HelpPageText(utf8)) << entry;
        ++pages;
    }
    EXPECT_GT(pages, 0u);
    // The keyword page lists every entry of the index file.
    if (facts.index != nullptr) {
        const std::optional<std::string> index = site::ReadStreamStart(*facts.index, 64u << 20);
        ASSERT_TRUE(index);
        std::size_t objects = 0;
        const std::regex object("<object[^>]*text/sitemap", std::regex::icase);
        for (auto it = std::sregex_iterator(index->begin(), index->end(), object); it != std::sregex_iterator(); ++it)
            ++objects;
        const std::string& keywords = book.entries["keywords.xhtml"];
        std::size_t items = 0;
        for (std::size_t at = keywords.find("<li"); at != std::string::npos; at = keywords.find("<li", at + 1)) ++items;
        EXPECT_EQ(items, objects);
    }
    // The contents' first entry with a page opens the table of contents.
    EXPECT_FALSE(NavNames(book.entries["nav.xhtml"]).empty());
    ExpectValid(book);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, FixtureBook, ::testing::Values("small", "openmcdf", "lcl"),
                         [](const auto& param) { return param.param; });

}  // namespace
}  // namespace vexmor::epubtest
