// Help files made for the site export's tests: a Simplified Chinese help
// with GBK names, links written under other letter cases and in the help
// scheme, a page that names no charset; and one with a hostile contents file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "catalogue/uChmExtractor.h"
#include "tests/support/chm_writer.h"
#include "tests/support/temp_file.h"

namespace vexmor::sitetest {

// `utf8` in the GBK code page; throws when it has no GBK form.
std::string Gbk(std::string_view utf8);

// A #SYSTEM stream: version 3, a language record, then the text records
// (code, bytes without the NUL) in the order given.
testsupport::Bytes SystemStream(std::uint32_t languageId,
                                const std::vector<std::pair<std::uint16_t, std::string>>& texts);

// A valid 1x1 GIF, so that a browser shows it rather than failing it.
testsupport::Bytes TinyGif();

// The help file "帮助" of the browser and command tests (language 0x0804):
//   toc.hhc, index.hhk        GBK names, no charset declared
//   html/Intro.htm            no charset, Chinese text in GBK; links
//                             ../Styles/Main.CSS and Images/LOGO.GIF
//   html/Install.htm          reached by ms-its: and mk:@MSITStore: links
//   styles/main.css           url(../Images/BG.GIF)
//   html/images/logo.gif, images/bg.gif
// The default topic is written "html/intro.htm".
std::vector<testsupport::ChmEntry> GbkHelpEntries();

// The Chinese names of GbkHelpEntries' contents file, in UTF-8.
std::vector<std::string> GbkContentsNames();
// The Chinese text of its first page, in UTF-8.
inline constexpr std::string_view kIntroText = "欢迎使用本软件";
inline constexpr std::string_view kHelpTitle = "测试帮助";

// A help file whose contents names and targets attack the entry page.
std::vector<testsupport::ChmEntry> HostileHelpEntries();
inline constexpr std::string_view kScriptName = "<img src=x onerror=alert(1)>";

// A help file built and opened, for what needs the catalogue (SiteNames).
class OpenHelpFile {
public:
    explicit OpenHelpFile(const std::vector<testsupport::ChmEntry>& entries);
    const TChmItems& Items() const { return extractor_.Items(); }
    std::string Path() const { return file_.string(); }

private:
    testsupport::TempFile file_;
    TChmExtractor extractor_;
};

}  // namespace vexmor::sitetest
