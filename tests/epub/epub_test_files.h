// A help file made for the e-book export's tests: HTML 4 presentational
// markup, scripts and help controls, links to what the book leaves out, and
// names the container refuses.
#pragma once

#include <string_view>
#include <vector>

#include "tests/support/chm_writer.h"

namespace vexmor::epubtest {

// "Old Book" (language 0x0409):
//   toc.hhc           Start, Chapter (no link) > Tables (TABLES.HTM#t1), Scripts
//   start.htm         font, center, align, bgcolor, table border, ...
//   tables.htm        <a name="t1">
//   scripts.htm       script, onload, a related topics control, an ActiveX object
//   odd name?.htm     a name with '?'; Dup.htm and dup.htm
//   pic.gif, style.css (url() to PIC.GIF and to a missing image), image.bmp, notes.txt
std::vector<testsupport::ChmEntry> OldBookEntries();

inline constexpr std::string_view kOldBookTitle = "Old Book";

}  // namespace vexmor::epubtest
