#include "tests/site/site_test_files.h"

#include <iconv.h>

#include <stdexcept>

#include "tests/support/byte_writer.h"

namespace vexmor::sitetest {

using testsupport::Bytes;
using testsupport::ChmEntry;
using testsupport::ToBytes;

std::string Gbk(std::string_view utf8) {
    const iconv_t converter = iconv_open("GBK", "UTF-8");
    if (converter == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv has no GBK");
    std::string in(utf8);
    std::string out(in.size() * 2 + 4, '\0');
    char* inPtr = in.data();
    std::size_t inLeft = in.size();
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    const std::size_t done = iconv(converter, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(converter);
    if (done == static_cast<std::size_t>(-1)) throw std::runtime_error("no GBK form for " + std::string(utf8));
    out.resize(out.size() - outLeft);
    return out;
}

Bytes SystemStream(std::uint32_t languageId, const std::vector<std::pair<std::uint16_t, std::string>>& texts) {
    Bytes bytes;
    testsupport::AppendU32(bytes, 3);
    testsupport::AppendU16(bytes, 4);
    testsupport::AppendU16(bytes, 28);
    testsupport::AppendU32(bytes, languageId);
    for (int i = 0; i < 24; ++i) bytes.push_back(0);
    for (const auto& [code, text] : texts) {
        testsupport::AppendU16(bytes, code);
        testsupport::AppendU16(bytes, static_cast<std::uint16_t>(text.size() + 1));
        testsupport::AppendText(bytes, text);
        bytes.push_back(0);
    }
    return bytes;
}

Bytes TinyGif() {
    static constexpr unsigned char kGif[] = {
        'G',  'I',  'F',  '8',  '9',  'a',  0x01, 0x00, 0x01, 0x00, 0x80, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x00,
        0x00, 0x00, 0x21, 0xF9, 0x04, 0x01, 0x00, 0x00, 0x00, 0x00, 0x2C, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00,
        0x01, 0x00, 0x00, 0x02, 0x02, 0x44, 0x01, 0x00, 0x3B};
    return Bytes(std::begin(kGif), std::end(kGif));
}

namespace {

std::string SitemapObject(std::string_view name, std::string_view local) {
    std::string text = "<LI> <OBJECT type=\"text/sitemap\">\n\t<param name=\"Name\" value=\"" + std::string(name) + "\">\n";
    if (!local.empty()) text += "\t<param name=\"Local\" value=\"" + std::string(local) + "\">\n";
    return text + "\t</OBJECT>\n";
}

constexpr std::string_view kSitemapHead =
    "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML//EN\">\n<HTML>\n<HEAD>\n"
    "<meta name=\"GENERATOR\" content=\"Microsoft&reg; HTML Help Workshop 4.1\">\n</HEAD><BODY>\n"
    "<OBJECT type=\"text/site properties\">\n\t<param name=\"ImageType\" value=\"Folder\">\n</OBJECT>\n";

}  // namespace

std::vector<std::string> GbkContentsNames() { return {"目录", "简介", "安装", "下载"}; }

std::vector<ChmEntry> GbkHelpEntries() {
    const std::string toc = std::string(kSitemapHead) + "<UL>\n" + SitemapObject(Gbk("目录"), "") + "<UL>\n" +
                            SitemapObject(Gbk("简介"), "html/intro.htm") +
                            SitemapObject(Gbk("安装"), "ms-its:test.chm::/html/Install.htm") + "<UL>\n" +
                            SitemapObject(Gbk("下载"), "HTML\\INSTALL.HTM#download") + "</UL>\n</UL>\n</UL>\n</BODY></HTML>\n";
    const std::string index =
        std::string(kSitemapHead) + "<UL>\n<LI> <OBJECT type=\"text/sitemap\">\n" + "\t<param name=\"Name\" value=\"" +
        Gbk("安装") + "\">\n\t<param name=\"Name\" value=\"" + Gbk("简介") +
        "\">\n\t<param name=\"Local\" value=\"html/Intro.htm\">\n\t<param name=\"Name\" value=\"" + Gbk("安装") +
        "\">\n\t<param name=\"Local\" value=\"html/Install.htm\">\n\t</OBJECT>\n<UL>\n" +
        SitemapObject(Gbk("下载"), "html/Install.htm#download") + "</UL>\n</UL>\n</BODY></HTML>\n";
    const std::string intro = "<html>\n<head>\n<title>" + Gbk("简介") +
                              "</title>\n<link rel=\"stylesheet\" type=\"text/css\" href=\"../Styles/Main.CSS\">\n"
                              "</head>\n<body>\n<h1>" +
                              Gbk(kIntroText) +
                              "</h1>\n<p><img src=\"Images/LOGO.GIF\" alt=\"logo\"></p>\n"
                              "<p><a href=\"ms-its:test.chm::/html/Install.htm\">1</a>\n"
                              "<a href=\"mk:@MSITStore:C:\\Help\\test.chm::/html/install.htm\">2</a></p>\n"
                              "</body>\n</html>\n";
    const std::string install =
        "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">\n"
        "<link rel=\"stylesheet\" href=\"../styles/main.css\"></head>\n<body><h1 id=\"download\">" +
        Gbk("下载") + "</h1><a href=\"Intro.htm\">back</a></body></html>\n";
    return {
        {"/#SYSTEM",
         SystemStream(0x0804, {{0, "toc.hhc"}, {1, "index.hhk"}, {2, "html/intro.htm"}, {3, Gbk(kHelpTitle)}}), 0},
        {"/toc.hhc", ToBytes(toc), 1},
        {"/index.hhk", ToBytes(index), 1},
        {"/html/Intro.htm", ToBytes(intro), 1},
        {"/html/Install.htm", ToBytes(install), 1},
        {"/styles/main.css", ToBytes("body { background: url(../Images/BG.GIF) repeat-x; color: #123; }\n"), 1},
        {"/html/images/logo.gif", TinyGif(), 0},
        {"/images/bg.gif", TinyGif(), 0},
    };
}

std::vector<ChmEntry> HostileHelpEntries() {
    std::string toc = std::string(kSitemapHead) + "<UL>\n" + SitemapObject(kScriptName, "javascript:alert(1)") +
                      SitemapObject("file", "file:///etc/passwd") + SitemapObject("up", "../../../etc/passwd") +
                      SitemapObject("root", "/etc/passwd") + SitemapObject("share", "\\\\server\\share\\a.htm") +
                      SitemapObject("quote", "a.htm&quot; onmouseover=&quot;alert(3)") +
                      SitemapObject("&lt;script&gt;alert(2)&lt;/script&gt;", "a.htm") +
                      SitemapObject("other", "ms-its:other.chm::/../../../etc/passwd") +
                      SitemapObject("page", "a.htm");
    // Nesting no help file has; the entry at the bottom is still shown.
    constexpr int kDepth = 200000;
    toc.reserve(toc.size() + kDepth * 5 + 200);
    for (int i = 0; i < kDepth; ++i) toc += "<UL>";
    toc += SitemapObject("deep", "a.htm");
    for (int i = 0; i < kDepth; ++i) toc += "</UL>";
    toc += "</UL></BODY></HTML>\n";
    return {
        {"/#SYSTEM", SystemStream(0x0409, {{0, "toc.hhc"}, {3, "</title><script>alert(4)</script>"}}), 0},
        {"/toc.hhc", ToBytes(toc), 0},
        {"/a.htm", ToBytes("<html><head><meta charset=\"utf-8\"></head><body>a</body></html>\n"), 0},
    };
}

OpenHelpFile::OpenHelpFile(const std::vector<ChmEntry>& entries) : file_(testsupport::BuildChm(entries).bytes) {
    extractor_.Open(file_.string());
}

}  // namespace vexmor::sitetest
