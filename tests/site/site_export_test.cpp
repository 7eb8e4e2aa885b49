// SiteExport run in the process: the contents and index files are read as
// they pass the reading thread, in whatever order the file stores them, and
// give the same pages as when they are read at the end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "site/entry_pages.h"
#include "site/site_export.h"
#include "tests/common/case_name.h"
#include "tests/common/temp_dir.h"
#include "tests/site/site_test_files.h"

namespace vexmor::sitetest {
namespace {

using testsupport::ChmEntry;
using testsupport::ToBytes;

std::string SitemapText(const std::vector<std::pair<std::string, std::string>>& entries) {
    std::string text = "<HTML><BODY><UL>\n";
    for (const auto& [name, local] : entries)
        text += "<LI> <OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\"" + name +
                "\"><param name=\"Local\" value=\"" + local + "\"></OBJECT>\n";
    return text + "</UL></BODY></HTML>\n";
}

// More keywords than fit one piece of the reading thread (1 MiB).
constexpr int kKeywords = 12000;
std::string KeywordName(int i) { return "keyword-" + std::to_string(100000 + i); }

std::vector<ChmEntry> HelpEntries(bool indexFirst, bool defaultTopicInSystem) {
    std::vector<std::pair<std::uint16_t, std::string>> system = {{3, "Order"}};
    if (defaultTopicInSystem) system.push_back({2, "b.htm"});
    std::vector<std::pair<std::string, std::string>> keywords;
    for (int i = 0; i < kKeywords; ++i) keywords.push_back({KeywordName(i), i % 2 ? "a.htm" : "B.HTM"});
    const ChmEntry contents{"/toc.hhc", ToBytes(SitemapText({{"Chapter", ""}, {"First", "A.htm"}})), 1};
    const ChmEntry index{"/index.hhk", ToBytes(SitemapText(keywords)), 0};
    std::vector<ChmEntry> entries = {{"/#SYSTEM", SystemStream(0x409, system), 0}};
    entries.push_back(indexFirst ? index : contents);
    entries.push_back(indexFirst ? contents : index);
    entries.push_back({"/a.htm", ToBytes("<html><head><meta charset=\"utf-8\"></head><body>a</body></html>"), 1});
    entries.push_back({"/b.htm", ToBytes("<html><head><meta charset=\"utf-8\"></head><body>b</body></html>"), 1});
    return entries;
}

struct OrderCase {
    const char* what;
    bool indexFirst;
    bool defaultTopicInSystem;
    const char* shownFirst;  // the topic both pages show first
};

class SitemapOrder : public ::testing::TestWithParam<OrderCase> {};

TEST_P(SitemapOrder, PagesShowTheDefaultTopicAndEveryKeyword) {
    const OrderCase& c = GetParam();
    const OpenHelpFile help(HelpEntries(c.indexFirst, c.defaultTopicInSystem));
    const test::TempDir out;
    site::SiteExport site(help.Items(), help.Path(), out.path().string());
    for (const std::size_t index : site.Order()) site.Write(help.Items()[index]);
    site.Finish();

    const std::string frame = std::string("src=\"") + c.shownFirst + "\"></iframe>";
    const std::string entry = test::ReadFile(out.path() / site::kEntryPageName);
    const std::string keywords = test::ReadFile(out.path() / site::kKeywordPageName);
    EXPECT_NE(entry.find(frame), std::string::npos) << entry;
    EXPECT_NE(entry.find(">First</a>"), std::string::npos) << entry;
    EXPECT_NE(keywords.find(frame), std::string::npos) << keywords.substr(0, 2000);
    for (const int i : {0, kKeywords / 2, kKeywords - 1})
        EXPECT_NE(keywords.find(">" + KeywordName(i) + "</a>"), std::string::npos) << KeywordName(i);
    // Watched as it passed, the index is still written as it is stored.
    for (const ChmEntry& stored : HelpEntries(c.indexFirst, c.defaultTopicInSystem)) {
        if (stored.name == "/index.hhk") {
            EXPECT_EQ(test::ReadFile(out.path() / "index.hhk"), std::string(stored.bytes.begin(), stored.bytes.end()));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Site, SitemapOrder,
    ::testing::Values(OrderCase{"ContentsFirst", false, false, "a.htm"},
                      OrderCase{"IndexFirstTopicFromContents", true, false, "a.htm"},
                      OrderCase{"IndexFirstTopicFromSystem", true, true, "b.htm"},
                      OrderCase{"ContentsFirstTopicFromSystem", false, true, "b.htm"}),
    test::CaseName<OrderCase>);

}  // namespace
}  // namespace vexmor::sitetest
