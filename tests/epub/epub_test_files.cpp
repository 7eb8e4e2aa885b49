#include "tests/epub/epub_test_files.h"

#include <string>

#include "tests/site/site_test_files.h"
#include "tests/support/byte_writer.h"

namespace vexmor::epubtest {

using testsupport::ChmEntry;
using testsupport::ToBytes;

namespace {

std::string SitemapObject(std::string_view name, std::string_view local) {
    std::string text = "<LI> <OBJECT type=\"text/sitemap\">\n\t<param name=\"Name\" value=\"" + std::string(name) + "\">\n";
    if (!local.empty()) text += "\t<param name=\"Local\" value=\"" + std::string(local) + "\">\n";
    return text + "\t</OBJECT>\n";
}

}  // namespace

std::vector<ChmEntry> OldBookEntries() {
    const std::string toc = "<HTML><BODY><UL>\n" + SitemapObject("Start", "start.htm") + SitemapObject("Chapter", "") +
                            "<UL>\n" + SitemapObject("Tables", "TABLES.HTM#t1") +
                            SitemapObject("Scripts", "scripts.htm") + "</UL>\n" +
                            SitemapObject("Gone", "missing.htm") + "</UL></BODY></HTML>\n";
    const std::string start =
        "<HTML><HEAD><TITLE>Start page</TITLE><LINK REL=stylesheet HREF=\"STYLE.CSS\"></HEAD>\n"
        "<BODY BGCOLOR=#ffffcc TEXT=navy LINK=blue TOPMARGIN=0>\n"
        "<CENTER><FONT FACE=\"Arial\" SIZE=4 COLOR=red>Centred title</FONT></CENTER>\n"
        "<P ALIGN=right>Right aligned</P>\n"
        "<P>Paragraph holding a table<TABLE BORDER=1 CELLPADDING=4 WIDTH=\"80%\" BGCOLOR=silver>"
        "<TR><TD VALIGN=top NOWRAP WIDTH=50%>Cell A</TD><TD>Cell B</TD></TR></TABLE></P>\n"
        "<FONT COLOR=green><P>Block in a font</P></FONT>\n"
        "<IMG SRC=\"PIC.GIF\" BORDER=0 WIDTH=\"50%\" ALIGN=left><IMG SRC=\"image.bmp\" ALT=\"bmp picture\">"
        "<IMG SRC=\"missing.gif\" ALT=\"lost picture\">\n"
        "<HR SIZE=3 NOSHADE><BR CLEAR=all>\n"
        "<UL TYPE=square><LI>One<UL><LI>Nested</UL>stray text<P>stray paragraph</UL>\n"
        "<A NAME=\"top\">Anchor</A> <A HREF=\"#top\">to top</A> <A HREF=\"#nowhere\">to nowhere</A>\n"
        "<A HREF=\"TABLES.HTM#t1\">tables</A> <A HREF=\"ms-its:test.chm::/scripts.htm\">scripts</A>\n"
        "<A HREF=\"tables.htm#nothere\">no such id</A> <A HREF=\"missing.htm\">gone page</A> <A HREF=\"notes.txt\">notes</A> <A HREF=\"pic.gif\">picture</A>\n"
        "<A HREF=\"odd%20name%3F.htm\">odd</A> <A HREF=\"Dup.htm\">Dup</A> <A HREF=\"http://example.com/a b\">web</A>\n"
        "<SPAN ID=\"1st\">first</SPAN><SPAN ID=\"1st\">again</SPAN><A HREF=\"#1st\">to first</A>\n"
        "<STRIKE>struck</STRIKE> <TT>typed</TT> <BIG>big</BIG> <U>under</U> <NOBR>kept together</NOBR>\n"
        "<DL><DT>Term<DD>Definition<P>stray</DL>\n"
        "</BODY></HTML>\n";
    const std::string tables =
        "<html><body><a name=\"t1\"></a><h1>Tables</h1><a href=\"start.htm#gone\">back</a><table><caption>Cap</caption><tr><th>H</th></tr></table>"
        "</body></html>\n";
    const std::string scripts =
        "<html><head><script language=\"JavaScript\">function go() { document.write('<p>bad</p>'); }</script></head>\n"
        "<body onload=\"go()\"><p onclick=\"go()\">Scripted page</p>\n"
        "<object id=hhctrl type=\"application/x-oleobject\" classid=\"clsid:adb880a6-d8ff-11cf-9377-00aa003b7a11\">"
        "<param name=\"Command\" value=\"Related Topics\"><param name=\"Item1\" value=\"Tables topic;tables.htm\">"
        "<param name=\"Item2\" value=\"Start topic;START.HTM\"></object>\n"
        "<object classid=\"clsid:12345678-0000-0000-0000-000000000000\" width=10><param name=x value=y></object>\n"
        "<noscript>Shown without scripts</noscript>\n"
        "<a href=\"javascript:go()\">script link</a>\n"
        "<form action=\"x\"><input type=text name=q><select><option>o</select></form>\n"
        "<embed src=\"movie.swf\"><applet code=\"x.class\"></applet>\n"
        "</body></html>\n";
    return {
        {"/#SYSTEM", sitetest::SystemStream(0x0409, {{0, "toc.hhc"}, {2, "start.htm"}, {3, std::string(kOldBookTitle)}}),
         0},
        {"/toc.hhc", ToBytes(toc), 1},
        {"/start.htm", ToBytes(start), 1},
        {"/tables.htm", ToBytes(tables), 1},
        {"/scripts.htm", ToBytes(scripts), 1},
        {"/odd name?.htm", ToBytes("<p>Odd name</p>"), 1},
        {"/Dup.htm", ToBytes("<p>Upper</p>"), 1},
        {"/dup.htm", ToBytes("<p>Lower</p>"), 1},
        {"/style.css", ToBytes("body { background: url(PIC.GIF); } h1 { background: url(missing.png); }\n"), 1},
        {"/pic.gif", sitetest::TinyGif(), 0},
        {"/image.bmp", ToBytes("BM not really"), 0},
        {"/notes.txt", ToBytes("notes"), 0},
    };
}

}  // namespace vexmor::epubtest
