// A help file written as an e-book by the built vexmorchm-cli, read back
// entry by entry, and epubcheck's verdict on it.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tests/cli/run_cli.h"
#include "tests/common/temp_dir.h"
#include "tests/support/chm_writer.h"

namespace vexmor::epubtest {

struct WrittenBook {
    test::TempDir dir;
    std::string chm;   // the help file
    std::string book;  // the .epub
    test::CliRun run;
    std::vector<std::string> order;             // entry names in the zip's order
    std::map<std::string, std::string> entries;  // name -> bytes
    std::map<std::string, bool> stored;          // name -> not compressed
};

// Builds `entries` into dir/test.chm and runs `epub test.chm book.epub`.
void WriteBook(const std::vector<testsupport::ChmEntry>& entries, WrittenBook& book);
// Runs `epub` on the help file at `chm` into dir/book.epub.
void WriteBookOf(const std::string& chm, WrittenBook& book);

struct EpubCheck {
    bool ran = false;  // false: no java or no epubcheck here
    int errors = -1;   // fatal errors and errors
    int warnings = -1;
    std::string output;
};

// Runs epubcheck on `book`.
EpubCheck CheckBook(const std::string& book);

// The text of an HTML or XHTML page's body, without its white space and
// without what form controls hold (the book leaves them out).
std::string BodyText(const std::string& page);
// The same for a help page (UTF-8) as libxml2's HTML parser reads it, as
// the book does: where HTML 5 and HTML 4 parsers part (a "<title />" hides
// the rest of the page from the one but not the other) the book keeps the
// text.
std::string HelpPageText(const std::string& page);

// The names of the links of the table of contents, in order.
std::vector<std::string> NavNames(const std::string& nav);

}  // namespace vexmor::epubtest
